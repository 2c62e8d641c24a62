#pragma once
// The theme of the modern pages: Mustache templates (kainjow's engine) and
// the style sheet and script they inline. A theme folder given by the user
// supplies any of the files; the built-in theme supplies the rest, so one
// template or the CSS can be changed without copying everything.
//
// Files: folder.mustache, viewer.mustache and backlink.mustache are pages;
// every other NAME.mustache is the partial {{> NAME}} (one line end at the
// end of a partial's file is not part of it); style.css, viewer.js and
// search.js are passed to the templates as {{{style}}}, {{{script}}} and
// {{{search_script}}}.
//
// The engine hands the templates values, never markup: {{name}} escapes
// them as page text (valid UTF-8, '&', '<', '>', '"' as entities); URLs are
// percent-encoded before they are handed over, so {{href}} is safe in an
// attribute. Triple braces are meant only for the theme's own style and
// script, the generator marker, the user's header and footer markup and an
// album's description (Markdown made HTML by markdown.h, raw HTML left out).

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <kainjow/mustache.hpp>

// The values a page template sees: an object of named values, lists and
// flags (absent names and false are "not there" to a {{#section}}). It is
// built cheaply (values are moved in, nothing is handed to the template
// engine until the page is rendered) and keeps a digest of every value set
// into it, in order: equal views built the same way have equal digests, and
// a different value, name, kind or order gives another digest. A page whose
// digest (with the theme's, PageDigest) is the one recorded for the file in
// place is not rendered again (page_output.h).
class TThemeView {
 public:
  enum class type : uint8_t { object, list };
  TThemeView();                   // an empty object
  TThemeView(type kind);          // NOLINT: an empty object or list
  TThemeView(bool value);         // NOLINT: a flag
  TThemeView(const char* text);   // NOLINT: a text
  TThemeView(std::string text);   // NOLINT

  // On an object: the value of `name` (replacing an earlier one).
  void set(std::string_view name, TThemeView value);
  // On a list: appends `value`.
  void push_back(TThemeView value);

  uint64_t Digest() const { return digest_; }
  // The values as the template engine takes them.
  kainjow::mustache::data ToData() const;

 private:
  enum class TKind : uint8_t { kObject, kList, kText, kTrue, kFalse };
  struct TMember;

  TKind kind_;
  std::string text_;
  std::vector<TMember> members_;  // object: named values; list: items (names empty)
  uint64_t digest_;
};

struct TThemeView::TMember {
  std::string name;
  TThemeView value;
};

enum class TThemePage : uint8_t { kFolder, kViewer, kBackLink };

// Why a theme could not be loaded: the file, the line (0: none) and what is wrong.
struct TThemeError {
  std::string file;
  int32_t line = 0;
  std::string message;
  // "FILE:LINE: MESSAGE" (or "FILE: MESSAGE").
  std::string Describe() const;
};

// Up to this many bytes of a theme file are read; a longer file is an error.
inline constexpr size_t kMaxThemeFileBytes = 1 << 20;

class TModernTheme {
 public:
  TModernTheme();
  ~TModernTheme();
  TModernTheme(const TModernTheme&) = delete;
  TModernTheme& operator=(const TModernTheme&) = delete;

  // Takes the files of `dir` where they exist and the built-in ones
  // elsewhere (`dir` empty: the built-in theme). False, with `error` filled,
  // when a file cannot be read, a template does not parse, names a partial
  // that is not there or includes itself, or a page would lack the
  // generator marker near its start.
  bool Load(const std::string& dir, TThemeError* error);

  // The page's text for `view`; the theme adds {{{style}}}, {{{script}}},
  // {{{search_script}}} and {{{generator}}} to it.
  std::string Render(TThemePage page, const TThemeView& view);

  // What the text of `page` rendered from `view` depends on: the view's
  // values, the page kind and the theme's identity (every file's name and
  // bytes, the generator marker, the product version). Equal digests: the
  // same text.
  uint64_t PageDigest(TThemePage page, const TThemeView& view) const;

 private:
  struct TTemplates;
  std::unique_ptr<TTemplates> templates_;
  uint64_t identity_ = 0;  // of the loaded files
};

// The text of the built-in theme file `name`; empty when there is none.
std::string BuiltinThemeText(const char* name);

// Writes every file of the built-in theme into `dir`, which is made (with
// the folders above it) when it does not exist. Without `overwrite` nothing is written when any of the
// files is already there. False with `message` filled on failure.
bool ExportBuiltinTheme(const char* dir, bool overwrite, std::string* message);
