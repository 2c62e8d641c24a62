#include "engine/modern/theme.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/modern/builtin_theme.h"
#include "engine/modern/html.h"
#include "engine/store/generated_names.h"
#include "support/fnv_hash.h"
#include "support/path_util.h"
#include "support/product.h"

namespace {

using kainjow::mustache::mustache;

constexpr const char* kTemplateExtension = ".mustache";
constexpr const char* kStyleFile = "style.css";
constexpr const char* kScriptFile = "viewer.js";
constexpr const char* kSearchScriptFile = "search.js";
constexpr const char* kPageFiles[] = {"folder.mustache", "viewer.mustache", "backlink.mustache"};
constexpr size_t kPageCount = sizeof kPageFiles / sizeof kPageFiles[0];
// Partials may include partials this deep (each level is one partial file).
constexpr int32_t kMaxPartialDepth = 32;

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return text.size() > n && text.compare(text.size() - n, n, suffix) == 0;
}

// One file of the theme as it was found: its text and where it came from.
struct TThemeSource {
  std::string text;
  std::string origin;  // the user's file, or "built-in NAME"
};

int32_t LineAt(const std::string& text, size_t offset) {
  if (offset > text.size()) offset = text.size();
  int32_t line = 1;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') ++line;
  }
  return line;
}

// kainjow reports "... at OFFSET": the message without it and the line.
void DescribeParseError(const std::string& message, const TThemeSource& source, TThemeError* error) {
  error->file = source.origin;
  error->message = message;
  error->line = 0;
  const size_t at = message.rfind(" at ");
  if (at == std::string::npos) return;
  char* end = nullptr;
  const unsigned long long offset = std::strtoull(message.c_str() + at + 4, &end, 10);
  if (end == message.c_str() + at + 4 || *end != '\0') return;
  error->message.resize(at);
  error->line = LineAt(source.text, static_cast<size_t>(offset));
}

struct TPartialUse {
  std::string name;
  size_t offset;
};

// The partial tags of a template, found the way the engine's parser finds
// tags: "{{", or the delimiters a {{=<% %>=}} tag set, up to the end
// delimiter ("}}}" after "{{{"). Used to check that every partial exists
// and that none includes itself before anything is rendered.
std::vector<TPartialUse> FindPartials(const std::string& text) {
  std::vector<TPartialUse> uses;
  std::string open = "{{";
  std::string close = "}}";
  size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, open.size(), open) != 0) {
      ++i;
      continue;
    }
    const size_t start = i;
    size_t contents = i + open.size();
    const bool braces = open == "{{" && close == "}}";
    const bool triple = braces && contents < text.size() && text[contents] == '{';
    if (triple) ++contents;
    const std::string& end_mark = triple ? std::string("}}}") : close;
    const size_t end = text.find(end_mark, contents);
    if (end == std::string::npos) break;  // the parser reports it
    std::string tag = text.substr(contents, end - contents);
    const size_t first = tag.find_first_not_of(" \t\r\n");
    const size_t last = tag.find_last_not_of(" \t\r\n");
    tag = first == std::string::npos ? std::string() : tag.substr(first, last - first + 1);
    i = end + end_mark.size();
    if (triple || tag.empty()) continue;
    if (tag[0] == '=' && tag.size() >= 5 && tag.back() == '=') {
      const std::string inner = tag.substr(1, tag.size() - 2);
      const size_t a = inner.find_first_not_of(' ');
      const size_t space = inner.find(' ', a == std::string::npos ? 0 : a);
      const size_t b = space == std::string::npos ? std::string::npos : inner.find_first_not_of(' ', space);
      if (a == std::string::npos || b == std::string::npos) continue;
      const size_t c = inner.find_last_not_of(' ');
      open = inner.substr(a, space - a);
      close = inner.substr(b, c - b + 1);
      continue;
    }
    if (tag[0] != '>') continue;
    std::string name = tag.substr(1);
    const size_t n = name.find_first_not_of(" \t\r\n");
    name = n == std::string::npos ? std::string() : name.substr(n);
    uses.push_back(TPartialUse{name, start});
  }
  return uses;
}

// Partials come from the theme's files, not from the page's values.
using TThemeData = kainjow::mustache::data;

class TThemeContext : public kainjow::mustache::context<std::string> {
 public:
  TThemeContext(const TThemeData* view, const std::map<std::string, TThemeData>* partials)
      : context(view), partials_(partials) {}

  const TThemeData* get_partial(const std::string& name) const override {
    const auto found = partials_->find(name);
    return found == partials_->end() ? nullptr : &found->second;
  }

 private:
  const std::map<std::string, TThemeData>* partials_;
};

std::string EscapeText(const std::string& text) {
  std::string out;
  AppendModernText(out, text.data(), text.size());
  return out;
}

}  // namespace

namespace {

// Each value starts its digest with its kind, so that "" and false, or an
// empty object and an empty list, differ.
uint64_t LeafDigest(char kind, std::string_view text) {
  TFnvHash hash;
  hash.Add(&kind, 1);
  hash.AddText(text);
  return hash.Value();
}

}  // namespace

TThemeView::TThemeView() : TThemeView(type::object) {}

TThemeView::TThemeView(type kind)
    : kind_(kind == type::list ? TKind::kList : TKind::kObject), digest_(LeafDigest(kind == type::list ? 'l' : 'o', {})) {}
TThemeView::TThemeView(bool value) : kind_(value ? TKind::kTrue : TKind::kFalse), digest_(LeafDigest(value ? 't' : 'f', {})) {}
TThemeView::TThemeView(const char* text) : kind_(TKind::kText), text_(text), digest_(LeafDigest('s', text_)) {}
TThemeView::TThemeView(std::string text) : kind_(TKind::kText), text_(std::move(text)), digest_(LeafDigest('s', text_)) {}

void TThemeView::set(std::string_view name, TThemeView value) {
  if (kind_ != TKind::kObject) return;
  TFnvHash hash(digest_);
  hash.Add("=", 1);
  hash.AddText(name);
  hash.AddNumber(value.digest_);
  digest_ = hash.Value();
  for (TMember& member : members_) {
    if (member.name == name) {
      member.value = std::move(value);
      return;
    }
  }
  members_.push_back(TMember{std::string(name), std::move(value)});
}

void TThemeView::push_back(TThemeView value) {
  if (kind_ != TKind::kList) return;
  TFnvHash hash(digest_);
  hash.Add("+", 1);
  hash.AddNumber(value.digest_);
  digest_ = hash.Value();
  members_.push_back(TMember{std::string(), std::move(value)});
}

kainjow::mustache::data TThemeView::ToData() const {
  using data = kainjow::mustache::data;
  switch (kind_) {
    case TKind::kText:
      return data(text_);
    case TKind::kTrue:
      return data(true);
    case TKind::kFalse:
      return data(false);
    case TKind::kList: {
      data list(data::type::list);
      for (const TMember& member : members_) list.push_back(member.value.ToData());
      return list;
    }
    case TKind::kObject:
      break;
  }
  data object;
  for (const TMember& member : members_) object[member.name] = member.value.ToData();
  return object;
}

std::string TThemeError::Describe() const {
  std::string text = file;
  if (line > 0) text += ":" + std::to_string(line);
  text += ": ";
  text += message;
  return text;
}

struct TModernTheme::TTemplates {
  std::vector<std::unique_ptr<mustache>> pages;  // in kPageFiles order
  std::map<std::string, TThemeData> partials;
  std::string style;
  std::string script;
  std::string search_script;
};

TModernTheme::TModernTheme() = default;
TModernTheme::~TModernTheme() = default;

std::string BuiltinThemeText(const char* name) {
  for (const TBuiltinThemeFile& file : BuiltinThemeFiles()) {
    if (std::strcmp(file.name, name) == 0) return std::string(reinterpret_cast<const char*>(file.bytes), file.size);
  }
  return std::string();
}

namespace {

// The theme's files by name: the built-in ones, then those of `dir` over them.
bool CollectThemeFiles(const std::string& dir, std::map<std::string, TThemeSource>* files, TThemeError* error) {
  for (const TBuiltinThemeFile& file : BuiltinThemeFiles()) {
    (*files)[file.name] = TThemeSource{std::string(reinterpret_cast<const char*>(file.bytes), file.size),
                                       std::string("built-in ") + file.name};
  }
  if (dir.empty()) return true;
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) {
    *error = TThemeError{dir, 0, std::string("cannot open the theme folder: ") + std::strerror(errno)};
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name[0] == '.') continue;
    if (EndsWith(name, kTemplateExtension) || name == kStyleFile || name == kScriptFile ||
        name == kSearchScriptFile) names.push_back(name);
  }
  ::closedir(listing);
  for (const std::string& name : names) {
    std::string path = dir;
    if (path.back() != '/') path += '/';
    path += name;
    TThemeSource source{std::string(), path};
    std::string why;
    if (!ReadWholeRegularFile(path.c_str(), kMaxThemeFileBytes, TLinkRule::kFollow, &source.text, &why)) {
      *error = TThemeError{path, 0, "cannot read: " + why};
      return false;
    }
    // Pages get their line ends when written: a file saved with CRLF
    // gives the same pages as one saved with LF.
    std::string text;
    text.reserve(source.text.size());
    for (size_t i = 0; i < source.text.size(); ++i) {
      if (source.text[i] == '\r' && i + 1 < source.text.size() && source.text[i + 1] == '\n') continue;
      text += source.text[i];
    }
    source.text = std::move(text);
    (*files)[name] = std::move(source);
  }
  return true;
}

std::string PartialName(const std::string& file) {
  return file.substr(0, file.size() - std::strlen(kTemplateExtension));
}

// A partial's file without its last line end.
std::string PartialText(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

// Every partial reached from `name` exists and none reaches itself.
bool CheckPartials(const std::string& name, const std::map<std::string, TThemeSource>& files,
                   std::vector<std::string>* chain, TThemeError* error) {
  const TThemeSource& source = files.at(name);
  for (const TPartialUse& use : FindPartials(source.text)) {
    const std::string file = use.name + kTemplateExtension;
    const bool page = std::find(std::begin(kPageFiles), std::end(kPageFiles), file) != std::end(kPageFiles);
    if (page || files.find(file) == files.end()) {
      *error = TThemeError{source.origin, LineAt(source.text, use.offset),
                           "no partial named '" + use.name + "' (a file " + file + " beside the pages)"};
      return false;
    }
    if (std::find(chain->begin(), chain->end(), file) != chain->end() ||
        static_cast<int32_t>(chain->size()) >= kMaxPartialDepth) {
      *error = TThemeError{source.origin, LineAt(source.text, use.offset),
                           "partial '" + use.name + "' includes itself"};
      return false;
    }
    chain->push_back(file);
    const bool ok = CheckPartials(file, files, chain, error);
    chain->pop_back();
    if (!ok) return false;
  }
  return true;
}

// The page's text with every partial tag replaced by that partial's text,
// so that a page is parsed once when the theme loads rather than its
// partials at every page rendered. Only where every template reached keeps
// the default delimiters (a partial is parsed with them whatever the page
// set); false otherwise, and the partials are then rendered as partials.
// The partials exist and none reaches itself (CheckPartials).
bool InlinePartials(const std::string& text, const std::map<std::string, TThemeSource>& files, std::string* out) {
  if (text.find("{{=") != std::string::npos) return false;
  size_t from = 0;
  for (const TPartialUse& use : FindPartials(text)) {
    const size_t end = text.find("}}", use.offset);
    if (end == std::string::npos) return false;
    out->append(text, from, use.offset - from);
    const auto found = files.find(use.name + kTemplateExtension);
    if (found == files.end() || !InlinePartials(PartialText(found->second.text), files, out)) return false;
    from = end + 2;
  }
  out->append(text, from, std::string::npos);
  return true;
}

}  // namespace

bool TModernTheme::Load(const std::string& dir, TThemeError* error) {
  std::map<std::string, TThemeSource> files;
  if (!CollectThemeFiles(dir, &files, error)) return false;
  auto templates = std::make_unique<TTemplates>();
  for (const auto& [name, source] : files) {
    if (!EndsWith(name, kTemplateExtension)) continue;
    const bool page = std::find(std::begin(kPageFiles), std::end(kPageFiles), name) != std::end(kPageFiles);
    const std::string text = page ? source.text : PartialText(source.text);
    mustache parsed(text);
    if (!parsed.is_valid()) {
      DescribeParseError(parsed.error_message(), source, error);
      return false;
    }
    if (!page) templates->partials.emplace(PartialName(name), TThemeData(text));
  }
  for (const char* page : kPageFiles) {
    std::vector<std::string> chain{page};
    if (!CheckPartials(page, files, &chain, error)) return false;
    std::string inlined;
    const bool whole = InlinePartials(files.at(page).text, files, &inlined);
    auto parsed = std::make_unique<mustache>(whole ? inlined : files.at(page).text);
    parsed->set_custom_escape(EscapeText);
    templates->pages.push_back(std::move(parsed));
  }
  templates->style = files.at(kStyleFile).text;
  templates->script = files.at(kScriptFile).text;
  templates->search_script = files.at(kSearchScriptFile).text;
  templates_ = std::move(templates);
  // Whatever a page's text depends on besides its view: each file of the
  // theme (whether the user's or built in), the marker and the program,
  // whose escaping and line ends may change between versions.
  TFnvHash identity;
  identity.AddText(kProductVersion);
  identity.AddText(kGeneratorMarker);
  for (const auto& [name, source] : files) {
    identity.AddText(name);
    identity.AddText(source.text);
  }
  identity_ = identity.Value();
  // Clean-up and prune recognise generated pages by the marker near their start.
  for (size_t k = 0; k < kPageCount; ++k) {
    const std::string text = Render(static_cast<TThemePage>(k), TThemeView());
    const size_t at = text.find(kGeneratorMarker);
    if (at == std::string::npos || at + std::strlen(kGeneratorMarker) > kGeneratorMarkerWindow) {
      *error = TThemeError{files.at(kPageFiles[k]).origin, 0,
                           "the page must carry {{{generator}}} within its first 4096 bytes"};
      templates_.reset();
      return false;
    }
  }
  return true;
}

std::string TModernTheme::Render(TThemePage page, const TThemeView& values) {
  if (templates_ == nullptr) return std::string();
  TThemeData view = values.ToData();
  view.set("generator", TThemeData(kGeneratorMarker));
  view.set("style", TThemeData(templates_->style));
  view.set("script", TThemeData(templates_->script));
  view.set("search_script", TThemeData(templates_->search_script));
  TThemeContext context(&view, &templates_->partials);
  return templates_->pages[static_cast<size_t>(page)]->render(context);
}

uint64_t TModernTheme::PageDigest(TThemePage page, const TThemeView& view) const {
  TFnvHash hash(identity_);
  hash.AddNumber(static_cast<uint64_t>(page));
  hash.AddNumber(view.Digest());
  return hash.Value();
}

bool ExportBuiltinTheme(const char* dir, bool overwrite, std::string* message) {
  // The folder and any missing folders above it.
  std::string partial = dir;
  for (size_t slash = partial.find('/', 1); slash != std::string::npos; slash = partial.find('/', slash + 1)) {
    partial[slash] = '\0';
    ::mkdir(partial.c_str(), 0777);
    partial[slash] = '/';
  }
  if (::mkdir(dir, 0777) != 0 && errno != EEXIST) {
    *message = std::string("cannot make ") + dir + ": " + std::strerror(errno);
    return false;
  }
  struct stat info;
  if (::stat(dir, &info) != 0 || !S_ISDIR(info.st_mode)) {
    *message = std::string(dir) + " is not a folder";
    return false;
  }
  std::vector<std::string> paths;
  std::string existing;
  for (const TBuiltinThemeFile& file : BuiltinThemeFiles()) {
    char path[kPathBufferSize];
    if (!PathJoin(path, sizeof path, kMaxPath, dir, file.name)) {
      *message = std::string(dir) + ": path too long";
      return false;
    }
    paths.emplace_back(path);
    if (::lstat(path, &info) == 0) existing += existing.empty() ? path : std::string(", ") + path;
  }
  if (!overwrite && !existing.empty()) {
    *message = "not overwriting existing files (--force replaces them): " + existing;
    return false;
  }
  // The files as they are (pages are written through TPageFile, which
  // gives them CRLF line ends; theme files keep their own).
  size_t k = 0;
  for (const TBuiltinThemeFile& file : BuiltinThemeFiles()) {
    const char* path = paths[k++].c_str();
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    size_t done = 0;
    while (ok && done < file.size) {
      const ssize_t put = ::write(fd, file.bytes + done, file.size - done);
      if (put < 0 && errno == EINTR) continue;
      ok = put > 0;
      if (ok) done += static_cast<size_t>(put);
    }
    const int error = ok ? 0 : errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
      ok = false;
    }
    if (!ok) {
      *message = std::string("cannot write ") + path + ": " + std::strerror(error != 0 ? error : errno);
      return false;
    }
  }
  return true;
}
