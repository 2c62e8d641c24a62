// The search index of a modern catalog: its data cannot break out of the
// script, it lists every photo with links that lead to files, it is written
// once (at the top) through the one output path, and rewritten only when it
// changes.

#include "engine/modern/search_index.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <string>
#include <vector>

#include "engine/modern/page_parts.h"
#include "engine/run_helpers.h"
#include "engine/store/generated_names.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"

namespace {

#define EXPECT_HAS(text, needle) EXPECT_NE((text).find(needle), std::string::npos) << "missing: " << (needle) << "\nin:\n" << (text)
#define EXPECT_LACKS(text, needle) EXPECT_EQ((text).find(needle), std::string::npos) << "present: " << (needle) << "\nin:\n" << (text)

void ModernStyle(TThreadVellumcast& worker) { worker.options.style = kStyleModern; }

TEST(SearchIndexTest, ScriptStringsCannotEndTheScriptOrTheString) {
  struct TCase {
    std::string in;
    const char* out;
  };
  const TCase cases[] = {
      {"plain name.jpg", "\"plain name.jpg\""},
      {"</script><script>alert(1)", "\"\\u003c/script\\u003e\\u003cscript\\u003ealert(1)\""},
      {"say \"hi\" \\ & 'so'", "\"say \\\"hi\\\" \\\\ \\u0026 'so'\""},
      {"line\nbreak\ttab\r\x01\x7f", "\"line\\u000abreak\\u0009tab\\u000d\\u0001\\u007f\""},
      {"a\xE2\x80\xA8" "b\xE2\x80\xA9" "c", "\"a\\u2028b\\u2029c\""},
      {"caf\xC3\xA9 \xF0\x9F\x93\xB7", "\"caf\xC3\xA9 \xF0\x9F\x93\xB7\""},
      {std::string("bad\xE9x"), "\"bad\xEF\xBF\xBDx\""},          // not UTF-8: U+FFFD
      {std::string("nul\0x", 5), "\"nul\xEF\xBF\xBDx\""},
      {"\xE2\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},               // a separator cut short
  };
  for (const TCase& c : cases) {
    std::string out;
    AppendScriptJsonString(out, c.in);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(SearchIndexTest, EntriesAreInOrderOfTheirPagesWhateverTheOrderAdded) {
  TSearchIndex first;
  TSearchIndex second;
  const TSearchEntry b{"b.jpg", "x/b.html", "x/b-1x.jpg", "T", "C", {"k1", "k2"}, "X", "2025-06-01", "T"};
  const TSearchEntry a{"a.jpg", "a.html", "", "", "", {}, "", ""};
  first.Add(b);
  first.Add(a);
  second.Add(a);
  second.Add(b);
  EXPECT_EQ(first.ScriptText(), second.ScriptText());
  const std::string text = first.ScriptText();
  EXPECT_HAS(text, "window.vellumcastSearch = [\n"
                   "{\"n\":\"a.jpg\",\"p\":\"a.html\",\"t\":\"\",\"ti\":\"\",\"c\":\"\",\"k\":[],\"a\":\"\",\"d\":\"\",\"l\":\"\"},\n"
                   "{\"n\":\"b.jpg\",\"p\":\"x/b.html\",\"t\":\"x/b-1x.jpg\",\"ti\":\"T\",\"c\":\"C\",\"k\":[\"k1\",\"k2\"],"
                   "\"a\":\"X\",\"d\":\"2025-06-01\",\"l\":\"T\"}\n];\n");
}

class SearchRunTest : public TEngineTest {
 protected:
  std::string Text(const std::string& relative) const {
    std::string out;
    for (char c : Page(relative)) {
      if (c != '\r') out += c;
    }
    return out;
  }
  static struct stat Stat(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info;
  }
  void SetDay(const std::string& relative, time_t when) const {
    struct utimbuf times{when, when};
    ASSERT_EQ(::utime(Path(relative).c_str(), &times), 0) << relative;
  }
};

TEST_F(SearchRunTest, TheTopFolderHoldsTheIndexOfEveryPhotoWithWorkingLinks) {
  ASSERT_TRUE(WriteTestJpeg(Path("pics/top shot.jpg"), 80, 60));
  ASSERT_TRUE(WriteTestJpeg(Path("pics/trips/summer & sea/boat #1.jpg"), 80, 60));
  ASSERT_TRUE(WriteTestGif(Path("pics/trips/summer & sea/gull.gif"), 40, 30));
  ASSERT_TRUE(WriteFileBytes(Path("pics/trips/summer & sea/index.md"),
                             "Title: Coast </script><script>alert(1)</script> \xE2\x80\xA8 end\n"));
  SetDay("pics/trips/summer & sea/boat #1.jpg", 1561939200);  // 2019-07-01 00:00 UTC
  const TRunResult run = RunIndex(Path("pics"), ModernStyle);
  ASSERT_EQ(run.failures, 0);

  const std::string index = Text(std::string("pics/") + kSearchIndexFile);
  EXPECT_FALSE(Exists(std::string("pics/trips/") + kSearchIndexFile));
  EXPECT_FALSE(Exists(std::string("pics/trips/summer & sea/") + kSearchIndexFile));
  // Links relative to the top page, encoded as the pages encode them, to files that exist.
  const std::string boat_page = "trips/summer%20%26%20sea/" + ViewerPageName("boat #1.jpg");
  char stem[32];
  NamedImageStem("boat #1.jpg", stem, sizeof stem);
  const std::string boat_thumb = "trips/summer%20%26%20sea/quarto_tn/" + std::string(stem) + "-1x.jpg";
  EXPECT_HAS(index, "{\"n\":\"boat #1.jpg\",\"p\":\"" + boat_page + "\",\"t\":\"" + boat_thumb + "\"");
  EXPECT_TRUE(Exists("pics/trips/summer & sea/" + ViewerPageName("boat #1.jpg")));
  EXPECT_TRUE(Exists("pics/trips/summer & sea/quarto_tn/" + std::string(stem) + "-1x.jpg"));
  EXPECT_HAS(index, "\"d\":\"2019-07-01\"");
  EXPECT_HAS(index, "{\"n\":\"top shot.jpg\",\"p\":\"" + ViewerPageName("top shot.jpg") + "\"");
  // The album path: the titles (or names) of its folders below the top, escaped for the script.
  EXPECT_HAS(index, "\"a\":\"trips / Coast \\u003c/script\\u003e\\u003cscript\\u003ealert(1)\\u003c/script\\u003e "
                    "\\u2028 end\"");
  EXPECT_LACKS(index, "</script");
  EXPECT_LACKS(index, "\xE2\x80\xA8");
  EXPECT_HAS(index, "\"n\":\"gull.gif\"");

  // Only the top page loads it and shows the box; a page without script keeps the box hidden.
  const std::string top = Text("pics/vellumcast.html");
  EXPECT_HAS(top, "<div class=\"vc-search\" id=\"vc-search\" role=\"search\" hidden>");
  EXPECT_HAS(top, "<label for=\"vc-search-q\">Search photos</label>");
  EXPECT_HAS(top, "<input type=\"search\" id=\"vc-search-q\"");
  EXPECT_HAS(top, std::string("<script src=\"") + kSearchIndexFile + "\"></script>");
  for (const char* page : {"pics/trips/vellumcast.html", "pics/trips/summer & sea/vellumcast.html"}) {
    EXPECT_LACKS(Text(page), "vc-search");
  }
  // The index is recorded as a page the run wrote.
  EXPECT_HAS(Text(std::string("pics/") + kPageRecordFile), kSearchIndexFile);
}

TEST_F(SearchRunTest, RewrittenOnlyWhenItChanges) {
  ASSERT_TRUE(WriteTestJpeg(Path("pics/a/p1.jpg"), 80, 60));
  ASSERT_TRUE(WriteTestJpeg(Path("pics/p2.jpg"), 80, 60));
  RunIndex(Path("pics"), ModernStyle);
  const std::string path = Path(std::string("pics/") + kSearchIndexFile);
  const std::string before = ReadFileBytes(path);
  // Aged, so a rewrite within the same second still shows.
  struct utimbuf old_time{1000000000, 1000000000};
  ASSERT_EQ(::utime(path.c_str(), &old_time), 0);
  const struct stat aged = Stat(path);

  RunIndex(Path("pics"), ModernStyle);
  const struct stat again = Stat(path);
  EXPECT_EQ(again.st_ino, aged.st_ino);
  EXPECT_EQ(again.st_mtime, aged.st_mtime);
  EXPECT_EQ(ReadFileBytes(path), before);

  ASSERT_TRUE(WriteTestJpeg(Path("pics/a/p3.jpg"), 80, 60));
  RunIndex(Path("pics"), ModernStyle);
  EXPECT_NE(Stat(path).st_mtime, aged.st_mtime);
  EXPECT_HAS(ReadFileBytes(path), "\"n\":\"p3.jpg\"");
}

TEST_F(SearchRunTest, TheClassicStyleWritesNoIndex) {
  ASSERT_TRUE(WriteTestJpeg(Path("pics/p1.jpg"), 80, 60));
  RunIndex(Path("pics"));
  EXPECT_FALSE(Exists(std::string("pics/") + kSearchIndexFile));
  EXPECT_LACKS(Page("pics/vellumcast.html"), "vc-search");
}

}  // namespace
