// libFuzzer target: file and folder names, which are outside input too. The
// first byte picks the run's settings; the rest is a list of names, one a
// line. Each name goes through every escaping the pages use, which must give
// back exactly the name once decoded and never a byte that ends or redirects
// its position; then the names become files and a folder of a tree that a
// real run walks, sorts in the string table and writes pages for.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/classic/html_escape.h"
#include "engine/modern/html.h"
#include "engine/run/image_order.h"
#include "engine/run/thread_vellumcast.h"
#include "fuzz_support.h"
#include "support/strman.h"

namespace {

TFuzzScratchFolder& Scratch() {
  static TFuzzScratchFolder folder("fuzz_names_");
  return folder;
}

class TQuietOwner : public TOwnerWindow {
 public:
  void Post(uint32_t) override {}
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // upper-case hex only
}

// Undoes "&amp;" and %XX; false at anything else that starts with '&' or '%'.
bool DecodeUrl(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (text.compare(i, 5, "&amp;") != 0) return false;
      *out += '&';
      i += 4;
    } else if (text[i] == '%') {
      if (i + 2 >= text.size() || HexDigit(text[i + 1]) < 0 || HexDigit(text[i + 2]) < 0) return false;
      *out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      *out += text[i];
    }
  }
  return true;
}

// Length of the well-formed UTF-8 sequence at `s`, 0 when there is none.
size_t Utf8Sequence(const unsigned char* s, size_t left) {
  const unsigned char c = s[0];
  if (c < 0x80) return 1;
  size_t n = 0;
  uint32_t code = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    code = c & 0x07;
  } else {
    return 0;
  }
  if (n > left) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (s[i] & 0x3F);
  }
  if ((n == 3 && code < 0x800) || (n == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
      (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return n;
}

bool ValidUtf8(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    const size_t n = Utf8Sequence(s + i, text.size() - i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Every '&' starts one of the entities the writers use.
bool EntitiesOnly(const std::string& text) {
  for (size_t i = text.find('&'); i != std::string::npos; i = text.find('&', i + 1)) {
    if (text.compare(i, 5, "&amp;") == 0 || text.compare(i, 4, "&lt;") == 0 || text.compare(i, 4, "&gt;") == 0 ||
        text.compare(i, 6, "&quot;") == 0) {
      continue;
    }
    size_t j = i + 1;
    if (j >= text.size() || text[j] != '#') return false;
    ++j;
    const size_t digits = j;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    if (j == digits || j >= text.size() || text[j] != ';') return false;
  }
  return true;
}

void CheckEscapes(const std::string& name) {
  const char* raw = name.c_str();
  std::string decoded;
  for (int refresh = 0; refresh < 2; ++refresh) {
    std::string url;
    if (refresh != 0) AppendRefreshUrlEscaped(url, raw); else AppendUrlEscaped(url, raw);
    for (size_t i = 0; i < url.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(url[i]);
      const bool edge_space = c == ' ' && (i == 0 || i + 1 == url.size());
      if (c < 0x20 || c >= 0x7F || edge_space || std::strchr("\"#:?\\", c) != nullptr) std::abort();
      if (refresh != 0 && c == '\'') std::abort();
    }
    if (!DecodeUrl(url, &decoded) || decoded != name) std::abort();
  }
  std::string text;
  AppendHtmlText(text, raw);
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80 || c == '<' || c == '>') std::abort();
  }
  if (!EntitiesOnly(text)) std::abort();
  std::string markup;
  AppendMarkupText(markup, raw);
  for (const char c : markup) {
    if (static_cast<unsigned char>(c) >= 0x80) std::abort();
  }

  std::string modern;
  AppendModernText(modern, raw);
  if (!ValidUtf8(modern) || !EntitiesOnly(modern) || modern.find_first_of("<>\"") != std::string::npos) std::abort();
  std::string valid;
  AppendValidUtf8(valid, raw, name.size());
  if (!ValidUtf8(valid) || (ValidUtf8(name) && valid != name)) std::abort();
  std::string segment;
  AppendModernUrl(segment, raw);
  for (const char c : segment) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || std::strchr("/?#\"<>\\&", c) != nullptr) std::abort();
  }
  if (!DecodeUrl(segment, &decoded) || decoded != name) std::abort();
  std::string path;
  AppendModernUrlPath(path, (name + "/" + name).c_str());
  if (!DecodeUrl(path, &decoded) || decoded != name + "/" + name) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  std::vector<std::string> names;
  const char* text = reinterpret_cast<const char*>(data + 1);
  const size_t length = size - 1;
  for (size_t start = 0; start <= length && names.size() < 12;) {
    const void* newline = std::memchr(text + start, '\n', length - start);
    const size_t end = newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - text) : length;
    std::string name(text + start, end - start);
    if (name.find('\0') == std::string::npos && !name.empty()) names.push_back(name);
    start = end + 1;
  }
  for (const std::string& name : names) CheckEscapes(name);

  // The string table: every name found again; each order a total order over them.
  TStringManager table(sizeof(TImageEntry), 2, 0, nullptr);
  for (const std::string& name : names) table.FindOrAdd(name.c_str());
  for (const std::string& name : names) {
    if (table.Find(name.c_str()) == nullptr) std::abort();
  }
  for (int32_t order = kOrderName; order <= kOrderNatural; ++order) {
    int32_t walked = 0;
    const TStrEntry* previous = nullptr;
    for (const TStrEntry* e = SortedImageWalk(table, order); e != nullptr; e = e->walk, ++walked) {
      if (previous != nullptr && CompareImages(e, previous, order)) std::abort();
      previous = e;
    }
    if (walked != table.TotalEntries()) std::abort();
  }

  // A tree of those names (those the file system takes), walked by a real run.
  TFuzzScratchFolder& scratch = Scratch();
  scratch.Empty();
  if (!scratch.MakeFolder("tree")) return 0;
  int32_t files = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (name.find('/') != std::string::npos || name == "." || name == ".." || name.size() > 200) continue;
    // Most names want an image extension to be listed as images.
    const std::string path = std::string("tree/") + name + ((choice & 0x20) != 0 ? "" : ".jpg");
    if (i == 0 && (choice & 1) != 0) {
      if (mkdir(path.c_str(), 0755) == 0) scratch.WriteFile((path + "/inner.jpg").c_str(), "x", 1);
      continue;
    }
    if (scratch.WriteFile(path.c_str(), "not an image", 12)) ++files;
  }
  if (files == 0 && (choice & 1) == 0) return 0;
  TQuietOwner owner;
  TThreadVellumcast worker;
  worker.options.path = scratch.Join("tree");
  worker.ownerwindow = &owner;
  worker.options.style = static_cast<TPageStyle>((choice >> 1) & 1);
  worker.options.order = static_cast<TImageOrder>((choice >> 2) % 3);
  worker.options.createthumbs = (choice >> 4) & 1;
  // The run logs its probes into the current folder: the scratch folder,
  // for the run only (libFuzzer's own paths are relative to where it started).
  const int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (here < 0) return 0;
  if (chdir(scratch.Path()) == 0 && worker.Start()) worker.WaitFor();
  if (fchdir(here) != 0) std::abort();
  close(here);
  return 0;
}
