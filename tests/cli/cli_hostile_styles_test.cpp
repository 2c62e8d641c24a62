// The hostile cases of an index run, each for both page styles through the
// real command line: a run stopped by a signal or killed, a read-only folder,
// a full disk, links out of the tree, image files that declare huge sizes,
// hostile file names and tampered files the program reads back. One table of
// cases, run for every style; a small helper per kind of setup.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "cli/cli_runner.h"
#include "engine/modern/page_parts.h"
#include "engine/store/generated_names.h"
#include "fixtures/header_only_images.h"
#include "fixtures/hostile_jpeg.h"
#include "fixtures/image_writers.h"
#include "fixtures/mount_fixtures.h"
#include "fixtures/tree_writer.h"
#include "raster/membitmap.h"
#include "support/utf8.h"

namespace {

namespace fs = std::filesystem;

struct TStyle {
  const char* name;
  std::vector<std::string> args;  // what selects the style and makes it write thumbnails
};

const TStyle kStyles[] = {
    {"classic", {"--style=classic", "--createthumbs=1"}},
    {"modern", {"--style=modern"}},
};

// Every entry below a folder, not through links: the bytes of a file, "/"
// for a folder, "-> target" for a link.
using TTree = std::map<std::string, std::string>;

TTree Snapshot(const std::string& root) {
  TTree tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    const std::string relative = it->path().lexically_relative(root).string();
    if (it->is_symlink()) {
      tree[relative] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      tree[relative] = "/";
    } else {
      tree[relative] = ReadFileBytes(it->path().string());
    }
  }
  return tree;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// The records of pages and originals keep each file's modification time
// (and for rendered pages its change time and inode), which a rewrite of the
// same bytes changes: compared without them ("p <size> <time> <name>",
// "d <size> <mtime> <ctime> <inode> <digest> <name>",
// "<size> <seconds> <nanoseconds> <name>").
std::string WithoutTimes(const std::string& path, const std::string& bytes) {
  const std::string name = fs::path(path).filename().string();
  if (name != kPageRecordFile && name != kOriginalsRecordFile) return bytes;
  static const std::regex kPageTime("^(p [0-9]+) [0-9]+ ");
  static const std::regex kRenderedTime("^(d [0-9]+) [0-9]+ [0-9]+ [0-9]+ ");
  static const std::regex kCopyTime("^([0-9]+) [0-9]+ [0-9]+ ");
  std::string text;
  for (std::string line : Lines(bytes)) {
    line = std::regex_replace(line, kPageTime, "$1 T ");
    line = std::regex_replace(line, kRenderedTime, "$1 T ");
    text += std::regex_replace(line, kCopyTime, "$1 T ") + "\n";
  }
  return text;
}

// The paths where two snapshots differ, one a line (for failure messages).
std::string Differences(const TTree& a, const TTree& b) {
  std::string text;
  for (const auto& [path, bytes] : a) {
    const auto other = b.find(path);
    if (other == b.end()) {
      text += "only before: " + path + "\n";
    } else if (WithoutTimes(path, other->second) != WithoutTimes(path, bytes)) {
      text += "changed: " + path + "\n";
    }
  }
  for (const auto& [path, bytes] : b) {
    if (a.find(path) == a.end()) text += "only after: " + path + "\n";
  }
  return text;
}

std::string BaseName(const std::string& path) { return fs::path(path).filename().string(); }

bool IsTemporary(const std::string& path) { return HasTemporarySuffix(BaseName(path).c_str()); }

// A file under a name a run puts in place (not a temporary one).
bool IsFinalGenerated(const std::string& path) {
  const std::string name = BaseName(path);
  if (IsTemporary(path)) return false;
  const bool in_thumbnails = fs::path(path).parent_path().filename() == kThumbnailFolder;
  return in_thumbnails ? IsGeneratedThumbnailFileName(name.c_str()) : IsGeneratedFolderFileName(name.c_str());
}

std::vector<std::string> Temporaries(const TTree& tree) {
  std::vector<std::string> found;
  for (const auto& [path, bytes] : tree) {
    if (IsTemporary(path)) found.push_back(path);
  }
  return found;
}

bool ValidUtf8(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t at = 0; at < text.size();) {
    uint32_t code_point = 0;
    const size_t length = DecodeUtf8Sequence(bytes + at, text.size() - at, &code_point);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A whole JPEG file: its start and end markers.
bool WholeJpeg(const std::string& bytes) {
  return bytes.size() > 4 && bytes.compare(0, 2, "\xFF\xD8") == 0 && EndsWith(bytes, "\xFF\xD9");
}

// A whole page of either style: it ends as the page writer ends every page.
bool WholePage(const std::string& bytes) {
  return EndsWith(bytes, "</html>\n") || EndsWith(bytes, "</html>\r\n") || EndsWith(bytes, "</html>");
}

// Where byte `at` of `page` lies: in page text, in a tag's markup, or in a
// quoted attribute value.
enum class TPagePlace { kText, kMarkup, kQuoted };

TPagePlace PlaceIn(const std::string& page, size_t at) {
  TPagePlace place = TPagePlace::kText;
  char quote = 0;
  for (size_t i = 0; i < at && i < page.size(); ++i) {
    const char c = page[i];
    if (place == TPagePlace::kQuoted) {
      if (c == quote) place = TPagePlace::kMarkup;
    } else if (place == TPagePlace::kMarkup) {
      if (c == '"' || c == '\'') {
        place = TPagePlace::kQuoted;
        quote = c;
      } else if (c == '>') {
        place = TPagePlace::kText;
      }
    } else if (c == '<') {
      place = TPagePlace::kMarkup;
    }
  }
  return place;
}

// Each generated file under its final name is whole.
void ExpectWholeFiles(const TTree& tree) {
  for (const auto& [path, bytes] : tree) {
    if (!IsFinalGenerated(path)) continue;
    if (EndsWith(path, ".jpg")) {
      EXPECT_TRUE(WholeJpeg(bytes)) << path << " is not a whole JPEG file";
    }
    if (EndsWith(path, ".html")) {
      EXPECT_TRUE(WholePage(bytes)) << path << " is not a whole page";
    }
  }
}


// One case for one style: a scratch folder, the style, and a run of the
// command line with the style's options.
class THostileRun {
 public:
  explicit THostileRun(const TStyle& style) : style_(style) {}

  bool Modern() const { return std::string(style_.name) == "modern"; }
  std::string At(const std::string& relative) const { return dir_.Join(relative); }

  // vellumcast-cli index with the style's options, `extra`, then `folder`.
  TCliResult Index(const std::string& folder, const std::vector<std::string>& extra = {},
                   const TCliRunOptions& options = {}) const {
    std::vector<std::string> args = {"index"};
    args.insert(args.end(), style_.args.begin(), style_.args.end());
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(folder);
    return RunCli(args, dir_.path(), options);
  }
  TCliResult Clean(const std::string& folder) const { return RunCli({"clean", folder}, dir_.path()); }

  // The thumbnail the style writes for image `name` at `position` of its folder.
  std::string Thumbnail(const std::string& folder, const char* name, int position) const {
    if (!Modern()) return folder + "/quarto_tn/quarto_tn" + std::to_string(position) + ".jpg";
    char stem[32];
    NamedImageStem(name, stem, sizeof stem);
    return folder + "/quarto_tn/" + stem + "-1x.jpg";
  }

  // The next run leaves the tree as a run that writes everything afresh
  // would: nothing partial or stale that a run left was taken as whole.
  void ExpectNextRunMakesItWhole(const std::string& folder, const std::vector<std::string>& extra = {}) const {
    const TCliResult next = Index(folder, extra);
    EXPECT_EQ(next.exit_code, 0) << next.err;
    const TTree after_next = Snapshot(At(folder));
    EXPECT_EQ(Temporaries(after_next), std::vector<std::string>{});
    std::vector<std::string> rebuild = extra;
    rebuild.push_back("--rebuild=1");
    const TCliResult rebuilt = Index(folder, rebuild);
    EXPECT_EQ(rebuilt.exit_code, 0) << rebuilt.err;
    EXPECT_EQ(Differences(after_next, Snapshot(At(folder))), "") << "the run after did not repair what was left";
  }

 private:
  const TStyle& style_;
  TScratchDir dir_{"vc-hostile-styles"};
};

// --- A run stopped in the middle ---------------------------------------

// SIGINT and SIGTERM stop the run like Cancel; SIGKILL ends it at once.
void StopMidRun(THostileRun& h, int signal_number) {
  constexpr int kFolders = 6;
  constexpr int kPerFolder = 8;
  std::vector<std::string> thumbnails;
  for (int f = 0; f < kFolders; ++f) {
    const std::string folder = "t/s" + std::to_string(f);
    for (int i = 0; i < kPerFolder; ++i) {
      const std::string name = "p" + std::to_string(i) + ".jpg";
      ASSERT_TRUE(WriteTestJpeg(h.At(folder + "/" + name), 1400 + f, 1000 + i, GradientPixels(f * 10 + i)));
      thumbnails.push_back(h.Thumbnail(folder, name.c_str(), i));
    }
  }
  // The old catalog, then a run at another cell size that replaces every
  // thumbnail and page: stopped once it has replaced a few.
  const TCliResult first = h.Index("t", {"--cellwidth=120"});
  ASSERT_EQ(first.exit_code, 0) << first.err;
  const TTree old_tree = Snapshot(h.At("t"));
  std::map<std::string, ino_t> old_inodes;
  for (const std::string& thumbnail : thumbnails) {
    struct stat info;
    ASSERT_EQ(::stat(h.At(thumbnail).c_str(), &info), 0) << thumbnail;
    old_inodes[thumbnail] = info.st_ino;
  }
  std::chrono::steady_clock::time_point signalled;
  int replaced = 0;
  const auto stop_once_replacing = [&](pid_t pid) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (replaced < 3 && std::chrono::steady_clock::now() < give_up) {
      replaced = 0;
      for (const auto& [thumbnail, inode] : old_inodes) {
        struct stat info;
        replaced += ::stat(h.At(thumbnail).c_str(), &info) == 0 && info.st_ino != inode;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    signalled = std::chrono::steady_clock::now();
    ::kill(pid, signal_number);
  };
  const TCliResult stopped = h.Index("t", {"--cellwidth=160"}, WhileRunning(stop_once_replacing));
  const auto took = std::chrono::steady_clock::now() - signalled;
  const TTree stopped_tree = Snapshot(h.At("t"));
  EXPECT_GE(replaced, 3) << "the run was not seen replacing thumbnails";
  if (signal_number == SIGKILL) {
    EXPECT_EQ(stopped.exit_code, 1000 + SIGKILL) << "the run ended before it was killed";
  } else {
    EXPECT_EQ(stopped.exit_code, 128 + signal_number) << stopped.err;
    // A hang guard, not a speed measure: the stop is seen between images.
    EXPECT_LT(took, std::chrono::seconds(30));
    EXPECT_EQ(Temporaries(stopped_tree), std::vector<std::string>{});
  }

  h.ExpectNextRunMakesItWhole("t", {"--cellwidth=160"});
  const TTree new_tree = Snapshot(h.At("t"));
  // Every file under a final name was the old one or the whole new one.
  for (const auto& [path, bytes] : stopped_tree) {
    if (!IsFinalGenerated(path)) continue;
    const auto old_file = old_tree.find(path);
    const auto new_file = new_tree.find(path);
    const std::string stopped_bytes = WithoutTimes(path, bytes);
    const bool is_old = old_file != old_tree.end() && WithoutTimes(path, old_file->second) == stopped_bytes;
    const bool is_new = new_file != new_tree.end() && WithoutTimes(path, new_file->second) == stopped_bytes;
    EXPECT_TRUE(is_old || is_new) << path << " is neither the old file nor the new one";
  }
  ExpectWholeFiles(stopped_tree);
}

// --- Folders that cannot be written --------------------------------------

void ReadOnlyFolder(THostileRun& h, int) {
  ASSERT_TRUE(WriteTestJpeg(h.At("t/a.jpg"), 64, 48));
  ASSERT_TRUE(WriteTestJpeg(h.At("t/sub/b.jpg"), 48, 64));
  const TTree before = Snapshot(h.At("t"));
  TReadOnlyBind read_only(h.At("t"));
  if (!read_only.Mounted()) GTEST_SKIP() << read_only.Why();
  const TCliResult r = h.Index("t");
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_NE(r.err.find("vellumcast-cli: cannot write t/vellumcast.html: Read-only file system\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("vellumcast-cli: cannot write t/sub/vellumcast.html: Read-only file system\n"),
            std::string::npos)
      << r.err;
  for (const std::string& line : Lines(r.err)) {
    const bool failure = line.rfind("vellumcast-cli: cannot write t/", 0) == 0 &&
                         EndsWith(line, ": Read-only file system");
    const bool more = line.rfind("vellumcast-cli: ", 0) == 0 && EndsWith(line, " more files could not be written");
    EXPECT_TRUE(failure || more) << line;
  }
  // Nothing counted as written.
  EXPECT_NE(r.out.find("Indices Created: 0\n"), std::string::npos) << r.out;
  EXPECT_EQ(Differences(before, Snapshot(h.At("t"))), "");
}

// A disk with `room_kib` left: what fits is written whole, the rest is
// reported; once there is room again the next run completes the catalog.
void FullDisk(THostileRun& h, int room_kib) {
  ASSERT_TRUE(MakeDirs(h.At("disk")));
  TTinyTmpfs disk(h.At("disk"), 1024 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(WriteTestJpeg(h.At("disk/t/p" + std::to_string(i) + ".jpg"), 400, 300, GradientPixels(i)));
    ASSERT_TRUE(WriteTestJpeg(h.At("disk/t/sub/q" + std::to_string(i) + ".jpg"), 300, 400, GradientPixels(i + 7)));
  }
  ASSERT_TRUE(WriteFileBytes(h.At("disk/room"), std::string(static_cast<size_t>(room_kib) * 1024, 'r')));
  ASSERT_TRUE(disk.Fill("filler"));
  ASSERT_EQ(::unlink(h.At("disk/room").c_str()), 0);

  const TCliResult r = h.Index("disk/t");
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_NE(r.err.find(": No space left on device\n"), std::string::npos) << r.err;
  const TTree full_tree = Snapshot(h.At("disk/t"));
  EXPECT_EQ(Temporaries(full_tree), std::vector<std::string>{});
  ExpectWholeFiles(full_tree);

  ASSERT_EQ(::unlink(h.At("disk/filler").c_str()), 0);
  h.ExpectNextRunMakesItWhole("disk/t");
}

// --- Links out of the tree -------------------------------------------------

// The thumbnail folder, a page, a viewer page and a subfolder each a link
// to something outside the tree, and files of generated names out there:
// index runs, a pruning run and the clean-up write and delete nothing outside.
void LinksOutOfTheTree(THostileRun& h, int) {
  ASSERT_TRUE(WriteTestJpeg(h.At("t/a.jpg"), 64, 48));
  ASSERT_TRUE(WriteTestJpeg(h.At("t/b.jpg"), 48, 64));
  ASSERT_TRUE(WriteTestJpeg(h.At("t/p/c.jpg"), 64, 48));
  ASSERT_TRUE(WriteTestJpeg(h.At("outside/photos/d.jpg"), 64, 48));
  ASSERT_TRUE(WriteFileBytes(h.At("outside/thumbs/quarto_tn0.jpg"), "user's"));
  ASSERT_TRUE(WriteFileBytes(h.At("outside/thumbs/") + kManifestFile, "user's"));
  ASSERT_TRUE(WriteFileBytes(h.At("outside/thumbs/") + kModernManifestFile, "user's"));
  ASSERT_TRUE(WriteFileBytes(h.At("outside/page.html"), "user's page"));
  ASSERT_TRUE(WriteFileBytes(h.At("outside/viewer.html"), "user's viewer"));
  ASSERT_TRUE(WriteFileBytes(h.At("outside/photos/vellumcast.html"), "user's"));
  ASSERT_TRUE(WriteFileBytes(h.At("outside/photos/") + kPageRecordFile, "user's"));
  ASSERT_EQ(::symlink(h.At("outside/thumbs").c_str(), h.At("t/quarto_tn").c_str()), 0);
  ASSERT_EQ(::symlink(h.At("outside/page.html").c_str(), h.At("t/p/vellumcast.html").c_str()), 0);
  ASSERT_EQ(::symlink(h.At("outside/viewer.html").c_str(), h.At("t/" + ViewerPageName("b.jpg")).c_str()), 0);
  ASSERT_EQ(::symlink(h.At("outside/photos").c_str(), h.At("t/linked").c_str()), 0);
  const TTree outside = Snapshot(h.At("outside"));

  const TCliResult r = h.Index("t");
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_NE(r.err.find("cannot write t/p/vellumcast.html: a symbolic link stands in its place\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("not entered t/linked: a symbolic link to a folder outside the starting folder"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(": its folder is a symbolic link\n"), std::string::npos) << r.err;
  if (h.Modern()) {
    EXPECT_NE(r.err.find("cannot write t/" + ViewerPageName("b.jpg") + ": a symbolic link stands in its place\n"),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(h.Index("t", {"--prune=1"}).exit_code, 3);
  EXPECT_EQ(h.Clean("t").exit_code, 0);
  EXPECT_EQ(Differences(outside, Snapshot(h.At("outside"))), "") << "something outside the tree changed";
  for (const char* link : {"t/quarto_tn", "t/p/vellumcast.html", "t/linked"}) {
    EXPECT_TRUE(fs::is_symlink(h.At(link))) << link;
  }
  EXPECT_TRUE(fs::is_symlink(h.At("t/" + ViewerPageName("b.jpg"))));
}

// --- Image files that declare huge sizes --------------------------------

// A decode may hold up to the pixel memory cap; the program, its threads
// and the ordinary pictures take far less than this beside it. A full decode
// of any of the bombs would take gigabytes.
constexpr long kPeakKiB = static_cast<long>(kMaxPixelBytes / 1024) + 256 * 1024;

void Bombs(THostileRun& h, int) {
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } bombs[] = {
      {"b1.png", PngHeaderOnly(30000, 30000)},
      {"b2.png", PngHeaderOnly(13000, 13000, true)},
      {"b3.gif", GifHeaderOnly(65535, 65535)},
      {"b4.jpg", MakeHugeDeclaredProgressiveJpeg(18900, 18900)},
      {"b5.webp", WebpHeaderOnly(16383, 16383)},
      {"b6.tif", TiffHeaderOnly(40000, 40000)},
  };
  // Sorted names: a.jpg first, the bombs, z.jpg last.
  ASSERT_TRUE(WriteTestJpeg(h.At("t/a.jpg"), 200, 150));
  for (const auto& bomb : bombs) {
    ASSERT_FALSE(bomb.bytes.empty()) << bomb.name;
    ASSERT_TRUE(WriteFileBytes(h.At(std::string("t/") + bomb.name), std::string(bomb.bytes.begin(), bomb.bytes.end())));
  }
  ASSERT_TRUE(WriteTestJpeg(h.At("t/z.jpg"), 150, 200));
  const TCliResult r = h.Index("t", {"--formats=all"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_LT(r.peak_kib, kPeakKiB) << r.err;
  EXPECT_NE(r.out.find("Files Processed: 8\n"), std::string::npos) << r.out << r.err;
  // The run went on past every bomb to the last picture.
  EXPECT_TRUE(WholeJpeg(ReadFileBytes(h.At(h.Thumbnail("t", "a.jpg", 0)))));
  EXPECT_TRUE(WholeJpeg(ReadFileBytes(h.At(h.Thumbnail("t", "z.jpg", 7)))));
  // Each refused file is named, in either style.
  for (const auto& bomb : bombs) {
    EXPECT_NE(r.err.find(std::string("vellumcast-cli: warning: cannot read t/") + bomb.name + ": "), std::string::npos)
        << bomb.name << "\n" << r.err;
  }
  ExpectWholeFiles(Snapshot(h.At("t")));
}

// --- Hostile names ------------------------------------------------------

void HostileNames(THostileRun& h, int) {
  const std::string long_name(251, 'n');  // with ".jpg" the longest name a folder takes
  const std::vector<std::string> names = {
      "<script>alert(1)<",  // the rest of the tag follows as ">" is no trouble in a name
      "x\" onerror=\"alert(2)",
      "it's & co",
      "new\nline",
      "-leading dash",
      "bad \xFF\xFE utf-8",
      "$(touch pwned)",
      "`touch pwned2`; touch pwned3",
      long_name,
  };
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_TRUE(WriteTestJpeg(h.At("t/" + names[i] + ".jpg"), 40 + static_cast<int>(i), 30));
  }
  ASSERT_TRUE(WriteTestJpeg(h.At("t/<b>\" & '\n-dir\xFF/in.jpg"), 30, 40));
  ASSERT_TRUE(WriteTestJpeg(h.At("t/-dash/in.jpg"), 30, 40));

  const TCliResult r = h.Index("t");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Files Processed: " + std::to_string(names.size() + 2) + "\n"), std::string::npos) << r.out;
  for (const char* planted : {"pwned", "pwned2", "pwned3", "t/pwned", "t/pwned3"}) {
    EXPECT_FALSE(FileExists(h.At(planted))) << planted;
  }
  int pages = 0;
  for (const auto& [path, bytes] : Snapshot(h.At("t"))) {
    if (!EndsWith(path, ".html")) continue;
    ++pages;
    SCOPED_TRACE(path);
    // A name may stand as it is inside a quoted attribute value (a link's
    // address); elsewhere its "<" must not start a tag, and its quote must
    // not end the value it stands in, making the rest markup.
    for (const char* raw : {"<script>alert", "<b>\""}) {
      for (size_t at = bytes.find(raw); at != std::string::npos; at = bytes.find(raw, at + 1)) {
        EXPECT_EQ(PlaceIn(bytes, at), TPagePlace::kQuoted) << raw << " in: " << bytes.substr(at < 80 ? 0 : at - 80, 160);
      }
    }
    for (size_t at = bytes.find("onerror="); at != std::string::npos; at = bytes.find("onerror=", at + 1)) {
      EXPECT_NE(PlaceIn(bytes, at), TPagePlace::kMarkup) << bytes.substr(at < 80 ? 0 : at - 80, 160);
    }
    if (h.Modern()) {
      EXPECT_TRUE(ValidUtf8(bytes));
    }
  }
  EXPECT_GE(pages, 3);
}

// --- Tampered files the program reads back ---------------------------------

enum TReadBack { kThumbnailManifest, kPageRecord, kOriginalsRecord };

// The record line of a page record or an originals record naming `name`
// with the stamp the file `path` has now.
std::string ForgedLine(const std::string& record, const std::string& path, const std::string& name) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return "";
  const long long ns = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
  const std::string size = std::to_string(static_cast<long long>(info.st_size));
  // Follow the layout of the record's own first entry line.
  for (const std::string& line : Lines(record)) {
    if (line.rfind("p ", 0) == 0) return "p " + size + " " + std::to_string(ns) + " " + name;
  }
  return size + " " + std::to_string(ns / 1000000000LL) + " " + std::to_string(ns % 1000000000LL) + " " + name;
}

// `record` with `extra` lines put in before its last line.
std::string WithLines(const std::string& record, const std::vector<std::string>& extra) {
  std::vector<std::string> lines = Lines(record);
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i + 1 == lines.size()) {
      for (const std::string& line : extra) text += line + "\n";
    }
    text += lines[i] + "\n";
  }
  return text;
}

// A record read back garbled, cut, or forged to name the user's own files
// and files outside the tree: no crash, nothing deleted that no run wrote,
// and the run after leaves it as an untouched run would.
void Tampered(THostileRun& h, int which) {
  const bool output = which == kOriginalsRecord;
  const std::string where = output ? "out" : "t";
  std::vector<std::string> extra = {"--prune=1"};
  if (output) extra.insert(extra.end(), {"--output=out", "--images=copy"});
  ASSERT_TRUE(WriteTestJpeg(h.At("t/a.jpg"), 64, 48));
  ASSERT_TRUE(WriteTestJpeg(h.At("t/b.jpg"), 48, 64));
  ASSERT_TRUE(WriteTestJpeg(h.At("t/sub/c.jpg"), 64, 48));
  ASSERT_TRUE(WriteFileBytes(h.At("victim.html"), "outside the tree"));
  const TCliResult first = h.Index("t", extra);
  ASSERT_EQ(first.exit_code, 0) << first.err;
  ASSERT_TRUE(WriteFileBytes(h.At(where + "/notes.html"), "the user's own page"));
  ASSERT_TRUE(WriteFileBytes(h.At(where + "/quarto_tn/mine.jpg"), "the user's own picture"));
  const TTree tree_before = Snapshot(h.At("t"));
  const TTree output_before = output ? Snapshot(h.At("out")) : TTree{};

  std::string record;
  if (which == kThumbnailManifest) {
    record = where + "/quarto_tn/" + (h.Modern() ? kModernManifestFile : kManifestFile);
  } else {
    record = where + "/" + (which == kPageRecord ? kPageRecordFile : kOriginalsRecordFile);
  }
  const std::string good = ReadFileBytes(h.At(record));
  ASSERT_FALSE(good.empty()) << record;
  const std::vector<std::string> forged_names = {
      "notes.html", "a.jpg", "../victim.html", h.At("victim.html"), "quarto_tn/mine.jpg", "sub/c.jpg",
  };
  std::vector<std::string> forged;
  for (const std::string& name : forged_names) {
    const std::string target = name[0] == '/' ? name : h.At(where + "/" + name);
    forged.push_back(ForgedLine(good, target, name));
    if (which == kThumbnailManifest) forged.push_back(name);
  }
  const struct {
    const char* label;
    std::string bytes;
  } tamperings[] = {
      {"garbage", std::string("\x00\xFF garbage\n\n\t\t\n", 14) + std::string(5000, '\x7F')},
      {"cut in half", good.substr(0, good.size() / 2)},
      {"cut before its last byte", good.substr(0, good.size() - 1)},
      {"empty", ""},
      {"forged entries", WithLines(good, forged)},
  };
  for (const auto& tampering : tamperings) {
    SCOPED_TRACE(tampering.label);
    for (const char* command : {"index", "clean"}) {
      SCOPED_TRACE(command);
      ASSERT_TRUE(WriteFileBytes(h.At(record), tampering.bytes));
      const TCliResult r = std::string(command) == "index" ? h.Index("t", extra) : h.Clean(where);
      EXPECT_LT(r.exit_code, 3) << r.err;
      EXPECT_EQ(ReadFileBytes(h.At("victim.html")), "outside the tree");
      EXPECT_EQ(ReadFileBytes(h.At(where + "/notes.html")), "the user's own page");
      EXPECT_EQ(ReadFileBytes(h.At(where + "/quarto_tn/mine.jpg")), "the user's own picture");
      for (const char* photo : {"t/a.jpg", "t/b.jpg", "t/sub/c.jpg"}) EXPECT_TRUE(FileExists(h.At(photo))) << photo;
      // The run after repairs the record: the catalog is as before.
      const TCliResult repaired = h.Index("t", extra);
      EXPECT_EQ(repaired.exit_code, 0) << repaired.err;
      EXPECT_EQ(Differences(tree_before, Snapshot(h.At("t"))), "");
      if (output) {
        // A copy the damaged record no longer vouches for stays, and the
        // run leaves it alone as it would a user's file of that name.
        const TTree output_after = Snapshot(h.At("out"));
        for (const auto& [path, bytes] : output_before) {
          if (path != kOriginalsRecordFile) {
            EXPECT_EQ(output_after.count(path), 1u) << path;
          }
        }
      }
    }
  }
}

// --- The table ----------------------------------------------------------------

struct THostileCase {
  const char* name;
  void (*run)(THostileRun&, int);
  int argument;
};

const THostileCase kCases[] = {
    {"Sigint", StopMidRun, SIGINT},
    {"Sigterm", StopMidRun, SIGTERM},
    {"Sigkill", StopMidRun, SIGKILL},
    {"ReadOnlyFolder", ReadOnlyFolder, 0},
    {"FullDisk", FullDisk, 0},
    {"NearlyFullDisk", FullDisk, 48},
    {"LinksOutOfTheTree", LinksOutOfTheTree, 0},
    {"Bombs", Bombs, 0},
    {"HostileNames", HostileNames, 0},
    {"TamperedThumbnailManifest", Tampered, kThumbnailManifest},
    {"TamperedPageRecord", Tampered, kPageRecord},
    {"TamperedOriginalsRecord", Tampered, kOriginalsRecord},
};

class CliHostileStylesTest : public ::testing::TestWithParam<std::tuple<THostileCase, TStyle>> {};

TEST_P(CliHostileStylesTest, Holds) {
  const auto& [hostile, style] = GetParam();
  THostileRun run(style);
  hostile.run(run, hostile.argument);
}

INSTANTIATE_TEST_SUITE_P(CasesByStyle, CliHostileStylesTest,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::ValuesIn(kStyles)),
                         [](const ::testing::TestParamInfo<std::tuple<THostileCase, TStyle>>& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
