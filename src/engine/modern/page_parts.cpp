#include "engine/modern/page_parts.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "engine/store/generated_names.h"
#include "engine/modern/html.h"
#include "platform/real_path.h"
#include "support/path_util.h"

namespace {

std::string LastComponent(std::string path) {
  while (path.size() > 1 && path.back() == kPathSeparator) path.pop_back();
  const size_t slash = path.rfind(kPathSeparator);
  if (slash == std::string::npos || path.size() == 1) return path;
  return path.substr(slash + 1);
}

}  // namespace

void AppendModernOriginal(std::string& out, const TModernFolder& folder, const char* name) {
  if (folder.place == nullptr) {
    AppendModernUrl(out, name);
  } else {
    AppendModernOriginalUrl(out, *folder.place, name);
  }
}

std::string FolderDisplayName(const char* folder, int32_t depth) {
  if (depth > 0) return LastComponent(folder);
  // "." or "pics/" at the top: the name of the folder itself.
  char resolved[PATH_MAX];
  return LastComponent(ResolvePath(folder, resolved, sizeof resolved) ? resolved : folder);
}

std::string ModernTitle(const TModernFolder& folder, const std::string& name) {
  std::string title = name;
  if (!folder.run->options.title.empty() && folder.run->options.title != name) {
    title += " \xE2\x80\x93 ";  // en dash
    title += folder.run->options.title;
  }
  return title;
}

bool WriteModernPage(TFolderOutput& output, const TModernFolder& folder, TPageKind kind, TThemePage page,
                     const char* name, const TThemeView& view) {
  const uint64_t digest = folder.theme->PageDigest(page, view);
  if (output.Current(name, digest)) return true;
  ++folder.run->counters.renderedcount;
  return output.Write(kind, name, folder.theme->Render(page, view), &digest);
}

TThemeView OptionalText(const std::string& text) { return text.empty() ? TThemeView(false) : TThemeView(text); }

TThemeView ModernPageView(const TModernFolder& folder, const std::string& title, const std::string* refresh_url,
                          const char* body_class) {
  const TIndexRun& run = *folder.run;
  TThemeView view;
  view.set("title", title);
  view.set("refresh", refresh_url != nullptr ? TThemeView(*refresh_url) : TThemeView(false));
  view.set("body_class", body_class != nullptr ? TThemeView(body_class) : TThemeView(false));
  view.set("cellwidth", std::to_string(std::max(run.options.cellwidth, 1)));
  view.set("cellheight", std::to_string(std::max(run.options.cellheight, 1)));
  view.set("head_extra", folder.head_extra);
  view.set("footertext", OptionalText(run.options.footertext));
  view.set("body_end", folder.body_end);
  return view;
}

void SetImageSize(TThemeView& view, int32_t width, int32_t height) {
  const bool sized = width > 0 && height > 0;
  view.set("sized", sized);
  view.set("width", std::to_string(width));
  view.set("height", std::to_string(height));
}

std::string ModernPageName(const TModernFolder& folder, int32_t page) {
  return CatalogPageName(page, folder.first);
}

std::string ViewerPageName(const char* name) {
  char stem[32];
  NamedImageStem(name, stem, sizeof stem);
  // The stem is "vc-" and 16 hex digits.
  return std::string(kViewerPagePrefix) + (stem + 3) + ".html";
}

