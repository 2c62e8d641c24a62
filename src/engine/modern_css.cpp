#include "engine/modern_css.h"

namespace {

// Colours keep at least 4.5:1 contrast in both schemes.
constexpr const char* kStyle =
    ":root{color-scheme:light dark;--bg:#f7f7f5;--fg:#1b1b1b;--muted:#4f4f4f;--card:#ffffff;"
    "--line:#cfcfcf;--link:#0a4fbf;--focus:#c23c00}\n"
    "@media (prefers-color-scheme:dark){:root{--bg:#141414;--fg:#ececec;--muted:#bdbdbd;"
    "--card:#202020;--line:#3c3c3c;--link:#9cc0ff;--focus:#ffb060}}\n"
    "*,*::before,*::after{box-sizing:border-box}\n"
    "html{-webkit-text-size-adjust:100%;text-size-adjust:100%}\n"
    "body{margin:0;background:var(--bg);color:var(--fg);"
    "font:16px/1.5 system-ui,-apple-system,\"Segoe UI\",Roboto,sans-serif}\n"
    ".vc-head,.vc-main,.vc-foot{max-width:1600px;margin:0 auto;padding:0 12px}\n"
    "a{color:var(--link)}\n"
    "a:focus-visible{outline:3px solid var(--focus);outline-offset:2px;border-radius:2px}\n"
    ".vc-site{margin:12px 0 0;font-weight:600}\n"
    ".vc-crumbs ol{list-style:none;display:flex;flex-wrap:wrap;gap:2px 6px;margin:4px 0;padding:0}\n"
    ".vc-crumbs li{overflow-wrap:anywhere}\n"
    ".vc-crumbs li+li::before{content:\"\\203A\";margin-right:6px;color:var(--muted)}\n"
    "h1{font-size:1.6rem;line-height:1.25;margin:8px 0;overflow-wrap:anywhere}\n"
    "h2{font-size:1.15rem;margin:16px 0 8px}\n"
    ".vc-pager{display:flex;flex-wrap:wrap;align-items:center;gap:8px 20px;margin:12px 0}\n"
    ".vc-pager a,.vc-pager span{padding:6px 0;min-height:24px}\n"
    ".vc-folders,.vc-grid{list-style:none;margin:0;padding:0;display:grid;gap:10px;"
    "grid-template-columns:repeat(auto-fill,minmax(min(var(--cell),calc(50% - 5px)),1fr))}\n"
    ".vc-folders li,.vc-grid li{min-width:0;background:var(--card);border:1px solid var(--line);"
    "border-radius:6px;overflow:hidden}\n"
    ".vc-folders a,.vc-grid a{display:block;text-decoration:none;color:inherit}\n"
    ".vc-folders img,.vc-grid img,.vc-blank{display:block;width:100%;height:auto;"
    "aspect-ratio:var(--ratio);object-fit:contain;background:var(--line)}\n"
    ".vc-blank{display:flex;align-items:center;justify-content:center;padding:4px;"
    "font-size:.85rem;text-align:center;overflow-wrap:anywhere;color:var(--fg)}\n"
    ".vc-name,.vc-caption{display:block;padding:4px 8px 0;overflow-wrap:anywhere}\n"
    ".vc-name{font-weight:600;color:var(--link);text-decoration:underline}\n"
    ".vc-count{display:block;padding:0 8px 6px;color:var(--muted);font-size:.9rem}\n"
    ".vc-caption{padding:4px 8px 6px;font-size:.85rem}\n"
    ".vc-foot{margin-top:24px;padding-top:8px;padding-bottom:16px;border-top:1px solid var(--line);"
    "color:var(--muted);overflow-wrap:anywhere}\n"
    ".vc-photo{margin:0;display:flex;justify-content:center}\n"
    ".vc-photo img{display:block;max-width:100%;max-height:calc(100vh - 7.5rem);"
    "max-height:calc(100svh - 7.5rem);width:auto;height:auto;object-fit:contain}\n"
    ".vc-facts{display:grid;grid-template-columns:max-content 1fr;gap:2px 12px;margin:8px 0}\n"
    ".vc-facts dt{color:var(--muted)}\n"
    ".vc-facts dd{margin:0;overflow-wrap:anywhere}\n"
    ".vc-viewer h1{font-size:1.2rem}\n";

constexpr const char* kViewerScript =
    "<script>\n"
    "(function(){\n"
    "function go(id){var a=document.getElementById(id);if(a){location.href=a.href;return true}return false}\n"
    "document.addEventListener('keydown',function(e){\n"
    "if(e.altKey||e.ctrlKey||e.metaKey||e.shiftKey)return;\n"
    "var id=e.key==='ArrowLeft'?'vc-prev':e.key==='ArrowRight'?'vc-next':e.key==='Escape'?'vc-back':null;\n"
    "if(id&&go(id))e.preventDefault()});\n"
    "var x=null,y=0;\n"
    "document.addEventListener('touchstart',function(e){if(e.touches.length!==1){x=null;return}"
    "x=e.touches[0].clientX;y=e.touches[0].clientY},{passive:true});\n"
    "document.addEventListener('touchend',function(e){if(x===null)return;var t=e.changedTouches[0];"
    "var dx=t.clientX-x,dy=t.clientY-y;x=null;"
    "if(Math.abs(dx)>50&&Math.abs(dx)>2*Math.abs(dy))go(dx<0?'vc-next':'vc-prev')},{passive:true});\n"
    "})();\n"
    "</script>\n";

}  // namespace

void AppendModernStyle(std::string& out, int32_t cellwidth, int32_t cellheight) {
  if (cellwidth < 1) cellwidth = 1;
  if (cellheight < 1) cellheight = 1;
  out += "<style>\n";
  out += ":root{--cell:";
  out += std::to_string(cellwidth);
  out += "px;--ratio:";
  out += std::to_string(cellwidth);
  out += '/';
  out += std::to_string(cellheight);
  out += "}\n";
  out += kStyle;
  out += "</style>\n";
}

void AppendViewerScript(std::string& out) { out += kViewerScript; }
