// Modern pages the record vouches for are not rendered again: an unchanged
// re-run renders nothing and changes no file, while every kind of change
// (option, theme file, image, neighbour, the page on disk, the record
// itself, --rebuild) leaves exactly the pages a run from scratch writes.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <dirent.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "engine/modern/page_parts.h"
#include "engine/modern/theme.h"
#include "engine/run_helpers.h"
#include "engine/store/generated_names.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/tree_writer.h"

namespace {

using TFileIds = std::map<std::string, std::pair<ino_t, int64_t>>;  // inode, mtime ns

bool IsPage(const std::string& name) { return name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0; }

// Every page below `folder` (relative path -> bytes) and its identity.
void CollectPages(const std::string& folder, const std::string& relative, std::map<std::string, std::string>* pages,
                  TFileIds* ids) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      CollectPages(path, relative + name + "/", pages, ids);
    } else if (IsPage(name)) {
      if (pages != nullptr) (*pages)[relative + name] = ReadFileBytes(path);
      if (ids != nullptr) {
        (*ids)[relative + name] = {info.st_ino, int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec};
      }
    }
  }
  ::closedir(dir);
}

// The names of the pages that differ between `a` and `b` (missing in one, or other bytes).
std::string DifferingPages(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
  std::string names;
  for (const auto& [name, text] : a) {
    const auto found = b.find(name);
    if (found == b.end() || found->second != text) names += name + " ";
  }
  for (const auto& [name, text] : b) {
    if (a.count(name) == 0) names += name + " ";
  }
  return names;
}

class PageSkipTest : public TEngineTest {
 public:
  using TConfigure = std::function<void(TThreadVellumcast&)>;

  // A fresh tree of three images and a subfolder in `root`, which the
  // fixture's runs then index.
  void MakeTree(const std::string& root) {
    root_ = root;
    ASSERT_TRUE(WriteTestJpeg(Tree("a.jpg"), 400, 300));
    ASSERT_TRUE(WriteTestJpeg(Tree("b.jpg"), 300, 400));
    ASSERT_TRUE(WriteTestJpeg(Tree("d.jpg"), 200, 200));
    ASSERT_TRUE(WriteTestJpeg(Tree("sub/e.jpg"), 320, 240));
  }
  void SetUp() override {
    TEngineTest::SetUp();
    MakeTree("pics");
  }
  std::string Tree(const std::string& relative) const { return Path(root_ + "/" + relative); }

  TRunResult Run(const TConfigure& configure, bool rebuild = false) {
    return RunIndex(Path(root_), [&](TThreadVellumcast& worker) {
      worker.options.style = kStyleModern;
      worker.options.rebuild = rebuild ? 1 : 0;
      if (configure) configure(worker);
    });
  }
  std::map<std::string, std::string> Pages() const {
    std::map<std::string, std::string> pages;
    CollectPages(Path(root_), "", &pages, nullptr);
    return pages;
  }
  TFileIds Ids() const {
    TFileIds ids;
    CollectPages(Path(root_), "", nullptr, &ids);
    return ids;
  }
  std::string ViewerOf(const char* image) const { return Tree(ViewerPageName(image)); }
  std::string Record() const { return Tree(kPageRecordFile); }

  // Replaces the first occurrence of `from` in the record of the top folder.
  void EditRecord(const std::string& from, const std::string& to) {
    std::string text = ReadFileBytes(Record());
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from << " in\n" << text;
    text.replace(at, from.size(), to);
    ASSERT_TRUE(WriteFileBytes(Record(), text));
  }
  std::string root_ = "pics";

  // The record's line of `page` (a name in the top folder).
  std::string RecordLine(const std::string& page) const {
    const std::string text = ReadFileBytes(Record());
    const size_t end = text.find(" " + page + "\n");
    if (end == std::string::npos) return std::string();
    const size_t start = text.rfind('\n', end) + 1;
    return text.substr(start, end + page.size() + 1 - start);
  }
};

TEST_F(PageSkipTest, AnUnchangedReRunRendersNothingAndChangesNoFile) {
  const TRunResult first = Run({});
  EXPECT_GT(first.renderedcount, 0);
  EXPECT_EQ(first.currentcount, 0);
  const TFileIds before = Ids();
  const std::map<std::string, std::string> pages = Pages();

  const TRunResult again = Run({});
  EXPECT_EQ(again.renderedcount, 0);
  EXPECT_EQ(again.currentcount, first.renderedcount);
  EXPECT_EQ(again.failures, 0);
  EXPECT_EQ(Ids(), before);
  EXPECT_EQ(DifferingPages(Pages(), pages), "");
  // Modern runs prune: pages found current count as written and are kept.
  EXPECT_EQ(again.filecount, first.filecount);
  EXPECT_EQ(again.indexcount, first.indexcount);
}

// Each change, made after a first run: the next run renders (at least
// `rendered_at_least`, or exactly `rendered_exactly` when >= 0) pages, the
// pages it leaves are those a run with --rebuild writes, and the run after
// it renders nothing.
TEST_F(PageSkipTest, EveryChangeLeavesThePagesARunFromScratchWrites) {
  const std::string theme = Path("theme");
  std::string message;
  ASSERT_TRUE(ExportBuiltinTheme(theme.c_str(), true, &message)) << message;
  struct TCase {
    const char* label;
    std::function<void(PageSkipTest&)> change;
    TConfigure before;  // options of the first run
    TConfigure after;   // options of the runs after the change
    int rendered_at_least;
    int rendered_exactly;  // -1: not checked
  };
  const TConfigure none;
  const TConfigure titled = [](TThreadVellumcast& w) { w.options.title = "Holiday"; };
  const TConfigure themed = [theme](TThreadVellumcast& w) { w.options.theme = theme; };
  const TCase cases[] = {
      {"--rebuild", [](PageSkipTest&) {}, none, none, 1, -1},
      {"catalog title", [](PageSkipTest&) {}, none, titled, 1, -1},
      {"cell size", [](PageSkipTest&) {}, none, [](TThreadVellumcast& w) { w.options.cellwidth = 90; }, 1, -1},
      {"file names shown", [](PageSkipTest&) {}, none,
       [](TThreadVellumcast& w) { w.options.includefilenames = 1 - w.options.includefilenames; }, 1, -1},
      {"theme style sheet",
       [theme](PageSkipTest&) {
         const std::string path = theme + "/style.css";
         ASSERT_TRUE(WriteFileBytes(path, ReadFileBytes(path) + "\n.extra{color:red}\n"));
       },
       themed, themed, 1, -1},
      {"theme template",
       [theme](PageSkipTest&) {
         const std::string path = theme + "/viewer.mustache";
         ASSERT_TRUE(WriteFileBytes(path, ReadFileBytes(path) + "<!-- changed -->\n"));
       },
       themed, themed, 1, -1},
      {"user theme dropped", [](PageSkipTest&) {}, themed, none, 0, -1},
      {"image replaced by another size",
       [](PageSkipTest& t) { ASSERT_TRUE(WriteTestJpeg(t.Tree("b.jpg"), 500, 250)); }, none, none, 1, -1},
      {"neighbour added", [](PageSkipTest& t) { ASSERT_TRUE(WriteTestJpeg(t.Tree("c.jpg"), 200, 100)); },
       none, none, 1, -1},
      {"neighbour removed", [](PageSkipTest& t) { ASSERT_EQ(::unlink(t.Tree("d.jpg").c_str()), 0); }, none,
       none, 1, -1},
      {"subfolder image added",
       [](PageSkipTest& t) { ASSERT_TRUE(WriteTestJpeg(t.Tree("sub/f.jpg"), 100, 100)); }, none, none, 1, -1},
      {"page edited, size and date kept",
       [](PageSkipTest& t) {
         const std::string path = t.ViewerOf("a.jpg");
         struct stat info;
         ASSERT_EQ(::stat(path.c_str(), &info), 0);
         std::string text = ReadFileBytes(path);
         const size_t at = text.find("a.jpg");
         ASSERT_NE(at, std::string::npos);
         text[at] = 'x';
         ASSERT_TRUE(WriteFileBytes(path, text));
         const timespec times[2] = {info.st_atim, info.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
       },
       none, none, 1, 1},
      {"page deleted", [](PageSkipTest& t) { ASSERT_EQ(::unlink(t.ViewerOf("b.jpg").c_str()), 0); }, none,
       none, 1, 1},
      {"record cut short",
       [](PageSkipTest& t) {
         const std::string text = ReadFileBytes(t.Record());
         ASSERT_TRUE(WriteFileBytes(t.Record(), text.substr(0, text.size() - 3)));
       },
       none, none, 2, -1},
      {"record digest altered",
       [](PageSkipTest& t) {
         const std::string line = t.RecordLine(ViewerPageName("d.jpg"));
         ASSERT_EQ(line.compare(0, 2, "d "), 0) << line;
         std::string altered = line;
         const size_t digest = line.rfind(' ', line.size() - ViewerPageName("d.jpg").size() - 2) + 1;
         altered[digest] = altered[digest] == '0' ? '1' : '0';
         t.EditRecord(line, altered);
       },
       none, none, 1, 1},
      {"record inode altered",
       [](PageSkipTest& t) {
         std::string line = t.RecordLine(kBackLinkPageFile);
         ASSERT_EQ(line.compare(0, 2, "d "), 0) << line;
         // d <bytes> <mtime> <ctime> <inode> ...: the fifth field.
         size_t at = 0;
         for (int field = 0; field < 4; ++field) at = line.find(' ', at) + 1;
         std::string altered = line;
         altered.insert(at, "1");
         t.EditRecord(line, altered);
       },
       none, none, 1, 1},
      {"record of version 1 (no digests)",
       [](PageSkipTest& t) {
         std::string text = ReadFileBytes(t.Record());
         std::string old = "vellumcast-pages 1\n";
         size_t count = 0;
         for (size_t at = text.find('\n') + 1; at < text.size();) {
           const size_t end = text.find('\n', at);
           std::string line = text.substr(at, end - at);
           at = end + 1;
           if (line.compare(0, 2, "d ") != 0) continue;
           // d <bytes> <mtime> <ctime> <inode> <digest> <name> -> p <bytes> <mtime> <name>
           size_t cut = 0;
           for (int field = 0; field < 3; ++field) cut = line.find(' ', cut) + 1;
           size_t name = cut;
           for (int field = 0; field < 3; ++field) name = line.find(' ', name) + 1;
           old += "p " + line.substr(2, cut - 2) + line.substr(name) + "\n";
           ++count;
         }
         old += "end " + std::to_string(count) + "\n";
         ASSERT_TRUE(WriteFileBytes(t.Record(), old));
       },
       none, none, 2, -1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    MakeTree(std::string("case-") + std::to_string(&c - cases));
    ASSERT_TRUE(WriteFileBytes(theme + "/style.css", BuiltinThemeText("style.css")));
    ASSERT_TRUE(WriteFileBytes(theme + "/viewer.mustache", BuiltinThemeText("viewer.mustache")));
    Run(c.before);
    ASSERT_EQ(Run(c.before).renderedcount, 0);

    c.change(*this);
    const bool rebuild = std::strcmp(c.label, "--rebuild") == 0;
    const TRunResult changed = Run(c.after, rebuild);
    EXPECT_EQ(changed.failures, 0);
    EXPECT_GE(changed.renderedcount, c.rendered_at_least);
    if (c.rendered_exactly >= 0) {
      EXPECT_EQ(changed.renderedcount, c.rendered_exactly);
    }
    const std::map<std::string, std::string> pages = Pages();
    EXPECT_EQ(Run(c.after).renderedcount, 0) << "the record of the changed run vouches for its pages";
    EXPECT_EQ(DifferingPages(Pages(), pages), "");

    Run(c.after, true);
    EXPECT_EQ(DifferingPages(Pages(), pages), "") << "a run from scratch writes other pages";
  }
}

}  // namespace
