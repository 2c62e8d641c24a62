// Modern pages from a theme: the built-in theme gives the pages written
// before templates (tests/reference/modern), an exported theme gives the
// same, a theme overriding a template and the CSS changes just those parts,
// a theme that does not load is exit 2 before any write, and theme files in
// the photo tree survive prune and clean-up.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "engine/modern/theme.h"
#include "fixtures/tree_writer.h"

namespace {

const std::string kReference = std::string(VELLUMCAST_SOURCE_DIR) + "/tests/reference/modern/";

// Runs tests/reference/modern/make.sh into `out` with extra index options;
// the pages it wrote, by path. False when the script failed.
bool MakeSamplePages(const std::string& out, const std::string& extra, std::map<std::string, std::string>* pages) {
  const std::string command = "bash '" + kReference + "make.sh' '" VELLUMCAST_CLI_PATH "' '" +
                              std::string(VELLUMCAST_SAMPLE_TREE_PATH) + "' '" + out + "' " + extra;
  if (std::system(command.c_str()) != 0) return false;
  const std::string bundle = ReadFileBytes(out + "/pages.txt");
  size_t at = 0;
  while (at < bundle.size()) {
    // "=== PATH BYTES\n" then the page
    const size_t eol = bundle.find('\n', at);
    const size_t space = bundle.rfind(' ', eol);
    if (bundle.compare(at, 4, "=== ") != 0 || eol == std::string::npos || space <= at + 4) return false;
    const std::string path = bundle.substr(at + 4, space - at - 4);
    const size_t size = std::stoul(bundle.substr(space + 1, eol - space - 1));
    (*pages)[path] = bundle.substr(eol + 1, size);
    at = eol + 1 + size;
  }
  return !pages->empty();
}

std::map<std::string, std::string> ReferencePages() {
  std::map<std::string, std::string> pages;
  // The stored bundle, read the same way as a fresh one.
  const std::string bundle = ReadFileBytes(kReference + "pages.txt");
  size_t at = 0;
  while (at < bundle.size()) {
    const size_t eol = bundle.find('\n', at);
    const size_t space = bundle.rfind(' ', eol);
    const size_t size = std::stoul(bundle.substr(space + 1, eol - space - 1));
    pages[bundle.substr(at + 4, space - at - 4)] = bundle.substr(eol + 1, size);
    at = eol + 1 + size;
  }
  return pages;
}

void ExpectSamePages(const std::map<std::string, std::string>& expected,
                     const std::map<std::string, std::string>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (const auto& [path, text] : expected) {
    const auto found = actual.find(path);
    ASSERT_NE(found, actual.end()) << path;
    EXPECT_EQ(found->second, text) << path;
  }
}

// Every file below `root` with its bytes.
void ListTree(const std::string& root, const std::string& relative, std::map<std::string, std::string>* files) {
  DIR* dir = ::opendir((root + "/" + relative).c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = relative.empty() ? name : relative + "/" + name;
    struct stat info;
    if (::lstat((root + "/" + path).c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      (*files)[path + "/"] = "";
      ListTree(root, path, files);
    } else {
      (*files)[path] = ReadFileBytes(root + "/" + path);
    }
  }
  ::closedir(dir);
}

class CliThemeTest : public ::testing::Test {
 protected:
  TScratchDir dir_{"vc-cli-theme"};
};

TEST_F(CliThemeTest, TheBuiltInThemeWritesThePagesWrittenBeforeTemplates) {
  std::map<std::string, std::string> pages;
  ASSERT_TRUE(MakeSamplePages(dir_.path(), "", &pages));
  ExpectSamePages(ReferencePages(), pages);
  // Hostile names in every position: as text escaped, in URLs percent-encoded.
  const std::string hostile_url = "x%3Cscript%3Ealert(1)%3Cx%3E%20%22q%22%20%27s%27%20100%25%20%231%20%3Fa=b%26c";
  bool linked = false;
  for (const auto& [path, text] : pages) {
    EXPECT_EQ(text.find("<script>alert"), std::string::npos) << path;
    EXPECT_EQ(text.find("<Co>"), std::string::npos) << path;
    EXPECT_EQ(text.find("<me>"), std::string::npos) << path;
    EXPECT_EQ(text.find("href=\"%41 #top"), std::string::npos) << path;
    if (text.find("href=\"" + hostile_url + "/") != std::string::npos) linked = true;
  }
  EXPECT_TRUE(linked);
}

TEST_F(CliThemeTest, AnExportedThemeGivesTheSamePagesAsTheBuiltInOne) {
  const TCliResult exported = RunCli({"theme", "export", "theme"}, dir_.path());
  ASSERT_EQ(exported.exit_code, 0) << exported.err;
  const std::string source = std::string(VELLUMCAST_SOURCE_DIR) + "/themes/default/";
  for (const char* name : {"folder.mustache", "viewer.mustache", "head.mustache", "style.css", "viewer.js"}) {
    EXPECT_EQ(ReadFileBytes(dir_.Join("theme/") + name), ReadFileBytes(source + name)) << name;
  }
  std::map<std::string, std::string> pages;
  ASSERT_TRUE(MakeSamplePages(dir_.Join("out"), "--theme='" + dir_.Join("theme") + "'", &pages));
  ExpectSamePages(ReferencePages(), pages);
}

TEST_F(CliThemeTest, ExportRefusesToOverwriteWithoutForce) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("theme/style.css"), "mine\n"));
  TCliResult r = RunCli({"theme", "export", "theme"}, dir_.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("theme/style.css"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFileBytes(dir_.Join("theme/style.css")), "mine\n");
  EXPECT_FALSE(FileExists(dir_.Join("theme/folder.mustache")));  // nothing written
  r = RunCli({"theme", "export", "--force", "theme"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(dir_.Join("theme/style.css")), BuiltinThemeText("style.css"));
  EXPECT_EQ(RunCli({"theme", "export"}, dir_.path()).exit_code, 2);
  EXPECT_EQ(RunCli({"theme", "import", "x"}, dir_.path()).exit_code, 2);
}

// Pager links as text arrows; everything else as the built-in theme has it.
std::string WithArrowPagers(const std::string& page) {
  static const std::regex kPager(
      "(<nav class=\"vc-pager\" aria-label=\"Pages(?:, bottom)?\">)"
      "(?:<a rel=\"prev\" href=\"([^\"]*)\">Previous</a>)?<span>Page (\\d+) of (\\d+)</span>"
      "(?:<a rel=\"next\" href=\"([^\"]*)\">Next</a>)?</nav>");
  std::string out;
  auto begin = std::sregex_iterator(page.begin(), page.end(), kPager);
  size_t last = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    out += page.substr(last, static_cast<size_t>(m.position(0)) - last);
    out += m[1].str();
    if (m[2].matched) out += "<a href=\"" + m[2].str() + "\">&lt;</a>";
    out += " " + m[3].str() + "/" + m[4].str() + " ";
    if (m[5].matched) out += "<a href=\"" + m[5].str() + "\">&gt;</a>";
    out += "</nav>";
    last = static_cast<size_t>(m.position(0) + m.length(0));
  }
  return out + page.substr(last);
}

TEST_F(CliThemeTest, ATemplateAndTheStyleOfAThemeChangeJustTheirParts) {
  const std::string css = "body{color:#123456}\n";
  ASSERT_TRUE(WriteFileBytes(dir_.Join("theme/style.css"), css));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("theme/pager.mustache"),
                             "{{#prev}}<a href=\"{{prev}}\">&lt;</a>{{/prev}} {{page}}/{{pages}} "
                             "{{#next}}<a href=\"{{next}}\">&gt;</a>{{/next}}\n"));
  std::map<std::string, std::string> pages;
  ASSERT_TRUE(MakeSamplePages(dir_.Join("out"), "--theme='" + dir_.Join("theme") + "'", &pages));
  std::map<std::string, std::string> expected = ReferencePages();
  // Pages are written with CRLF line ends.
  const auto crlf = [](const std::string& text) { return std::regex_replace(text, std::regex("\n"), "\r\n"); };
  const std::string builtin_css = crlf(BuiltinThemeText("style.css"));
  int pagers = 0;
  for (auto& [path, text] : expected) {
    const size_t at = text.find(builtin_css);
    // Catalog and viewer pages (not back-link pages nor the header and
    // footer templates the bundle also holds) carry the style sheet.
    if (text.find("<meta name=\"viewport\"") != std::string::npos) {
      ASSERT_NE(at, std::string::npos) << path;
      text.replace(at, builtin_css.size(), crlf(css));
    }
    const std::string changed = WithArrowPagers(text);
    if (changed != text) ++pagers;
    text = changed;
  }
  EXPECT_GT(pagers, 0);
  ExpectSamePages(expected, pages);
}

TEST_F(CliThemeTest, AThemeThatDoesNotLoadIsExitTwoBeforeAnyWrite) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("t/a.gif"), ReadFileBytes(std::string(VELLUMCAST_SOURCE_DIR) +
                                                                  "/tests/reference/modern/make.sh")));
  ASSERT_TRUE(MakeDirs(dir_.Join("t/sub")));
  struct TCase {
    const char* file;  // in the theme folder
    const char* text;  // nullptr: a folder of that name
    const char* message;
    bool fifo = false;  // a FIFO of that name instead (would block a plain open)
  };
  const std::string huge(kMaxThemeFileBytes + 1, ' ');
  const TCase cases[] = {
      {"folder.mustache", "{{{generator}}}\n<ul>\n{{#cells}}<li>\n", "folder.mustache:3: Unclosed section \"cells\"\n"},
      {"viewer.mustache", "{{{generator}}}\n{{/photo}}\n", "viewer.mustache:2: Unopened section \"photo\"\n"},
      {"foot.mustache", "<p>{{footertext</p>\n", "foot.mustache:1: Unclosed tag\n"},
      {"head.mustache", "{{=<% =}}\n", "head.mustache:1: Invalid set delimiter tag\n"},
      {"folder.mustache", "{{{generator}}}\n\n{{> missing}}\n",
       "folder.mustache:3: no partial named 'missing' (a file missing.mustache beside the pages)\n"},
      {"pager.mustache", "x {{> pager}}\n", "pager.mustache:1: partial 'pager' includes itself\n"},
      {"backlink.mustache", "<p>{{name}}</p>\n",
       "backlink.mustache: the page must carry {{{generator}}} within its first 4096 bytes\n"},
      {"style.css", nullptr, "style.css: cannot read: not a regular file\n"},
      {"viewer.js", nullptr, "viewer.js: cannot read: not a regular file\n", true},
      {"head.mustache", huge.c_str(), "head.mustache: cannot read: larger than 1048576 bytes\n"},
  };
  std::map<std::string, std::string> before;
  ListTree(dir_.Join("t"), "", &before);
  for (const TCase& c : cases) {
    RemoveTree(dir_.Join("theme"));
    ASSERT_TRUE(MakeDirs(dir_.Join("theme")));
    if (c.fifo) {
      ASSERT_EQ(::mkfifo((dir_.Join("theme/") + c.file).c_str(), 0600), 0);
    } else if (c.text != nullptr) {
      ASSERT_TRUE(WriteFileBytes(dir_.Join("theme/") + c.file, c.text));
    } else {
      ASSERT_TRUE(MakeDirs(dir_.Join("theme/") + c.file));
    }
    const TCliResult r = RunCli({"index", "--style=modern", "--theme=theme", "t"}, dir_.path());
    EXPECT_EQ(r.exit_code, 2) << c.file;
    EXPECT_EQ(r.err, std::string("vellumcast-cli index: theme: theme/") + c.message);
    std::map<std::string, std::string> after;
    ListTree(dir_.Join("t"), "", &after);
    EXPECT_EQ(after, before) << c.file;
  }
  const TCliResult missing = RunCli({"index", "--style=modern", "--theme=nothere", "t"}, dir_.path());
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_EQ(missing.err, "vellumcast-cli index: theme: nothere: cannot open the theme folder: No such file or directory\n");
}

TEST_F(CliThemeTest, ThemeFilesInThePhotoTreeSurvivePruneAndCleanUp) {
  ASSERT_EQ(RunCli({"theme", "export", "tree/theme"}, dir_.path()).exit_code, 0);
  ASSERT_TRUE(WriteFileBytes(dir_.Join("tree/theme/index.html"), "<p>my notes</p>\n"));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("tree/a.gif"), ReadFileBytes(std::string(VELLUMCAST_SOURCE_DIR) +
                                                                     "/tests/reference/modern/make.sh")));
  std::map<std::string, std::string> theme;
  ListTree(dir_.Join("tree/theme"), "", &theme);
  const TCliResult run = RunCli({"index", "-q", "--style=modern", "--prune", "--firstpage=index.html",
                                 "--theme=tree/theme", "tree"},
                                dir_.path());
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(FileExists(dir_.Join("tree/index.html")));
  const TCliResult clean = RunCli({"clean", "-q", "--firstpage=index.html", "tree"}, dir_.path());
  EXPECT_EQ(clean.exit_code, 0) << clean.err;
  EXPECT_FALSE(FileExists(dir_.Join("tree/index.html")));
  std::map<std::string, std::string> after;
  ListTree(dir_.Join("tree/theme"), "", &after);
  EXPECT_EQ(after, theme);
}

// The engine's escaper, not the template library's, writes {{values}}:
// invalid UTF-8 becomes U+FFFD and the apostrophe stays as it is.
TEST(ModernThemeTest, ValuesAreEscapedAsPageText) {
  TScratchDir dir("vc-theme-escape");
  ASSERT_TRUE(WriteFileBytes(dir.Join("backlink.mustache"), "{{{generator}}}|{{name}}|{{&name}}|{{href}}\n"));
  TModernTheme theme;
  TThemeError error;
  ASSERT_TRUE(theme.Load(dir.path(), &error)) << error.Describe();
  TThemeView view;
  view.set("name", "<a href=\"x\">'&'\xff</a>");
  view.set("href", "a%20b");
  EXPECT_EQ(theme.Render(TThemePage::kBackLink, view),
            "<meta name=\"generator\" content=\"Vellumcast\">|&lt;a href=&quot;x&quot;&gt;'&amp;'\xEF\xBF\xBD&lt;/a&gt;|"
            "<a href=\"x\">'&'\xff</a>|a%20b\n");
}

}  // namespace
