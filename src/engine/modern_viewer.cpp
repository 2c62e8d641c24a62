#include "engine/modern_viewer.h"

#include "engine/modern_css.h"
#include "engine/modern_html.h"
#include "engine/page_file.h"
#include "support/path_util.h"

namespace {

void AppendFact(std::string& out, const char* term, const std::string& value) {
  if (value.empty()) return;
  out += "<dt>";
  out += term;
  out += "</dt><dd>";
  AppendModernText(out, value.c_str());
  out += "</dd>\n";
}

void AppendPhoto(std::string& out, const TModernFolder& folder, const TModernViewerImage& image) {
  const TModernImageResult& result = *image.result;
  const TImageFacts& facts = result.facts;
  std::string src;
  int32_t width = 0;
  int32_t height = 0;
  if (image.produced && !result.web_copy.empty()) {
    AppendModernUrlPath(src, result.web_copy.c_str());
    width = result.web_width;
    height = result.web_height;
  } else if (IsBrowserImageName(image.name)) {
    AppendModernOriginal(src, folder, image.name);
    width = facts.width;
    height = facts.height;
  }
  out += "<figure class=\"vc-photo\">";
  if (src.empty()) {
    out += "<p>This file cannot be shown in a browser.</p>";
  } else {
    out += "<img src=\"";
    out += src;
    out += "\" alt=\"";
    AppendModernText(out, image.name);
    out += '"';
    if (width > 0 && height > 0) {
      out += " width=\"";
      AppendNumber(out, width);
      out += "\" height=\"";
      AppendNumber(out, height);
      out += '"';
    }
    out += '>';
  }
  out += "</figure>\n";
}

}  // namespace

std::string ModernViewerText(const TModernFolder& folder, const TModernViewerImage& image) {
  std::string out;
  out.reserve(8192);
  AppendModernHead(out, folder, ModernTitle(folder, std::string(image.name) + " \xE2\x80\x93 " + folder.name),
                   nullptr, "vc-viewer");
  out += "<header class=\"vc-head\">\n<nav class=\"vc-pager\" aria-label=\"Photos\">";
  out += "<a id=\"vc-back\" href=\"";
  AppendModernUrl(out, image.folder_page.c_str());
  out += "\">Back to ";
  AppendModernText(out, folder.name.c_str());
  out += "</a>\n";
  if (image.previous != nullptr) {
    out += "<a id=\"vc-prev\" rel=\"prev\" href=\"";
    AppendModernUrl(out, ViewerPageName(image.previous).c_str());
    out += "\">Previous</a>\n";
  }
  out += "<span>";
  AppendNumber(out, image.position + 1);
  out += " of ";
  AppendNumber(out, image.count);
  out += "</span>\n";
  if (image.next != nullptr) {
    out += "<a id=\"vc-next\" rel=\"next\" href=\"";
    AppendModernUrl(out, ViewerPageName(image.next).c_str());
    out += "\">Next</a>\n";
  }
  out += "</nav>\n</header>\n<main class=\"vc-main\">\n";
  AppendPhoto(out, folder, image);
  out += "<h1>";
  AppendModernText(out, image.name);
  out += "</h1>\n<dl class=\"vc-facts\">\n";
  const TImageFacts& facts = image.result->facts;
  if (facts.width > 0 && facts.height > 0) {
    out += "<dt>Size</dt><dd>";
    AppendNumber(out, facts.width);
    out += " \xC3\x97 ";  // multiplication sign
    AppendNumber(out, facts.height);
    out += " pixels</dd>\n";
  }
  AppendFact(out, "Taken", facts.date_taken);
  AppendFact(out, "Camera", facts.camera);
  AppendFact(out, "Exposure", facts.exposure);
  out += "</dl>\n<p><a href=\"";
  AppendModernOriginal(out, folder, image.name);
  out += "\">Original file</a></p>\n</main>\n";
  AppendViewerScript(out);
  AppendModernFoot(out, folder);
  return out;
}

bool WriteModernViewerPage(const TModernFolder& folder, const TModernViewerImage& image) {
  char path[kPathBufferSize];
  const std::string name = ViewerPageName(image.name);
  if (!PathJoin(path, sizeof path, kMaxPath, folder.folder, name.c_str())) return false;
  TPageFile file;
  if (!file.Create(path)) return false;
  file.Write(ModernViewerText(folder, image));
  return file.Commit();
}
