// A photo's words in the modern pages, as a user runs the command line:
// escaped, cut to one line in a cell, places only when asked, file names
// on request, and the sidecars never touched by the runs or the clean-up.

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "fixtures/photo_text_writer.h"
#include "fixtures/tree_writer.h"
#include "imagein/photo_text.h"

namespace {

// Every file below `root` (relative path -> bytes), links not followed.
void ListFiles(const std::string& root, const std::string& relative, std::map<std::string, std::string>* files) {
  DIR* dir = ::opendir((root + "/" + relative).c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = relative.empty() ? name : relative + "/" + name;
    if (entry->d_type == DT_DIR) {
      ListFiles(root, path, files);
    } else {
      (*files)[path] = ReadFileBytes(root + "/" + path);
    }
  }
  ::closedir(dir);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CliPhotoTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TTestMetadata tram;
    tram.xmp = {{"Xmp.dc.title", "lang=x-default <script>alert(1)</script> Tram"},
                {"Xmp.dc.subject", "a<b"},
                {"Xmp.xmp.Rating", "3"}};
    tram.exif = {{"Exif.Image.Orientation", "6"},  // turned: a web copy is made
                 {"Exif.Image.Make", "Canon"},
                 {"Exif.Image.Model", "EOS R"},
                 {"Exif.Photo.LensModel", "EF 50mm"},
                 {"Exif.GPSInfo.GPSLatitudeRef", "N"},
                 {"Exif.GPSInfo.GPSLatitude", "38/1 42/1 36/1"},
                 {"Exif.GPSInfo.GPSLongitudeRef", "W"},
                 {"Exif.GPSInfo.GPSLongitude", "9/1 8/1 0/1"}};
    ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("p/tram.jpg"), tram));
    ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("p/quay.jpg"), {}));
    ASSERT_TRUE(WriteFileBytes(dir_.Join("p/quay.md"),
                               "Keywords: harbour\n\n**Quay** at dusk <script>alert(2)</script>\n\nMore text.\n"));
    ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("p/plain.jpg"), {}));
    ASSERT_TRUE(WriteFileBytes(dir_.Join("p/plain.jpg.json"),
                               R"({"title":"plain.jpg","description":"Line <one>\nLine \"two\""})"));
    ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("p/bare.jpg"), {}));
  }

  TCliResult Index(std::vector<std::string> extra) {
    std::vector<std::string> args = {"index", "--style=modern"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("p");
    return RunCli(args, dir_.path());
  }

  // Every page written below p/, joined.
  std::string AllPages() {
    std::map<std::string, std::string> files;
    ListFiles(dir_.Join("p"), "", &files);
    std::string pages;
    for (const auto& [path, bytes] : files) {
      if (path.size() > 5 && path.compare(path.size() - 5, 5, ".html") == 0) pages += bytes;
    }
    return pages;
  }

  std::string ViewerOf(const std::string& name) {
    std::map<std::string, std::string> files;
    ListFiles(dir_.Join("p"), "", &files);
    for (const auto& [path, bytes] : files) {
      if (Contains(path, "vellumcast-view-") && Contains(bytes, "<a href=\"" + name + "\">Original file</a>")) {
        return bytes;
      }
    }
    return {};
  }

  TScratchDir dir_{"vc-cli-phototext"};
};

TEST_F(CliPhotoTextTest, WordsAreEscapedAndMarkdownIsRenderedSafely) {
  const TCliResult r = Index({});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string pages = AllPages();
  EXPECT_FALSE(Contains(pages, "<script>alert")) << "a text reached a page unescaped";
  EXPECT_FALSE(Contains(pages, "a<b"));

  const std::string tram = ViewerOf("tram.jpg");
  ASSERT_FALSE(tram.empty());
  EXPECT_TRUE(Contains(tram, "<h1>&lt;script&gt;alert(1)&lt;/script&gt; Tram</h1>"));
  EXPECT_TRUE(Contains(tram, "<p class=\"vc-file\">tram.jpg</p>"));
  EXPECT_TRUE(Contains(tram, "<li>a&lt;b</li>"));
  EXPECT_TRUE(Contains(tram, "role=\"img\" aria-label=\"3 of 5 stars\">\xE2\x98\x85\xE2\x98\x85\xE2\x98\x85\xE2\x98\x86\xE2\x98\x86<"));
  EXPECT_TRUE(Contains(tram, "<dt>Camera</dt><dd>Canon EOS R</dd>"));
  EXPECT_TRUE(Contains(tram, "<dt>Lens</dt><dd>EF 50mm</dd>"));

  const std::string quay = ViewerOf("quay.jpg");
  EXPECT_TRUE(Contains(quay, "<strong>Quay</strong> at dusk")) << quay;
  EXPECT_TRUE(Contains(quay, "<p>More text.</p>"));
  EXPECT_TRUE(Contains(quay, "<h1>quay.jpg</h1>"));

  // A plain caption keeps its line breaks (pages end their lines in CR LF); a Takeout title that is the file name is no title.
  const std::string plain = ViewerOf("plain.jpg");
  EXPECT_TRUE(Contains(plain, "<p>Line &lt;one&gt;<br>\r\nLine &quot;two&quot;</p>")) << plain.substr(plain.find("<div class=\"vc-text"), 200);
  EXPECT_TRUE(Contains(plain, "<h1>plain.jpg</h1>"));
}

// The search results are labelled as the cells are: the index carries each
// cell's label ("l", empty: the file name).
TEST_F(CliPhotoTextTest, CellsShowTitleOrCaptionLineUnlessFileNamesAreAsked) {
  struct TCase {
    std::vector<std::string> options;
    std::vector<std::string> present;
    std::vector<std::string> absent;
    std::vector<std::string> search_labels;
  } cases[] = {
      {{},
       {"<span class=\"vc-caption vc-titled\" title=\"&lt;script&gt;alert(1)&lt;/script&gt; Tram\">&lt;script&gt;alert(1)&lt;/script&gt; Tram</span>",
        "<span class=\"vc-caption vc-titled\" title=\"Quay at dusk alert(2)\">Quay at dusk alert(2)</span>",
        "<span class=\"vc-caption vc-titled\" title=\"Line &lt;one&gt;\">Line &lt;one&gt;</span>",
        "<span class=\"vc-caption\">bare.jpg</span>"},
       {},
       {"\"l\":\"\\u003cscript\\u003ealert(1)\\u003c/script\\u003e Tram\"}", "\"l\":\"Quay at dusk alert(2)\"}",
        "\"l\":\"Line \\u003cone\\u003e\"}"}},
      {{"--captions=name"},
       {"<span class=\"vc-caption\">tram.jpg</span>", "<span class=\"vc-caption\">quay.jpg</span>"},
       {"class=\"vc-caption vc-titled\""},
       {}},
      {{"--captions=title", "--no-includefilenames"},
       {"title=\"Quay at dusk alert(2)\">Quay at dusk alert(2)</span>"},
       {"<span class=\"vc-caption\">bare.jpg</span>"},
       {"\"l\":\"Quay at dusk alert(2)\"}", "\"l\":\"Line \\u003cone\\u003e\"}"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.options.empty() ? "default" : c.options[0]);
    const TCliResult r = Index(c.options);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string folder = ReadFileBytes(dir_.Join("p/vellumcast.html"));
    for (const std::string& part : c.present) EXPECT_TRUE(Contains(folder, part)) << part << "\n" << folder.substr(folder.find("<main"));
    for (const std::string& part : c.absent) EXPECT_FALSE(Contains(folder, part)) << part;
    const std::string index = ReadFileBytes(dir_.Join("p/vellumcast-search.js"));
    EXPECT_TRUE(Contains(index, "\"n\":\"bare.jpg\"")) << index;
    for (const std::string& label : c.search_labels) EXPECT_TRUE(Contains(index, label)) << label << "\n" << index;
    // With --captions=name every result shows its file name.
    if (c.search_labels.empty()) EXPECT_FALSE(Contains(index, "\"l\":\"Quay")) << index;
  }
  EXPECT_NE(Index({"--captions=names"}).exit_code, 0);
}

// The classic pages take the titles only when asked; by default they stay
// as they were, file names under the images.
TEST_F(CliPhotoTextTest, ClassicCellsShowTitlesOnlyWithCaptionsTitle) {
  struct TCase {
    const char* captions;
    const char* present;
    const char* absent;
  } cases[] = {
      {"--captions=auto", "<br>quay.jpg</a>", "Quay at dusk"},
      {"--captions=name", "<br>quay.jpg</a>", "Quay at dusk"},
      {"--captions=title", "<br>Quay at dusk alert(2)</a>", "<br>quay.jpg</a>"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.captions);
    const TCliResult r = RunCli({"index", c.captions, "p"}, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string page = ReadFileBytes(dir_.Join("p/vellumcast.html"));
    EXPECT_TRUE(Contains(page, c.present)) << page;
    EXPECT_FALSE(Contains(page, c.absent));
    EXPECT_FALSE(Contains(page, "<script>alert"));
  }
}

TEST_F(CliPhotoTextTest, PlacesAppearOnlyWhenAskedAndImagesCarryNoMetadata) {
  TCliResult r = Index({});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::string pages = AllPages();
  EXPECT_FALSE(Contains(pages, "openstreetmap"));
  EXPECT_FALSE(Contains(pages, "38.71"));
  EXPECT_FALSE(Contains(pages, "9.13"));

  // Thumbnails and web copies carry no metadata at all.
  std::map<std::string, std::string> files;
  ListFiles(dir_.Join("p/quarto_tn"), "", &files);
  int images = 0;
  bool web_copy = false;
  for (const auto& [name, bytes] : files) {
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".jpg") != 0) continue;
    ++images;
    web_copy |= Contains(name, "-web.jpg");
    EXPECT_FALSE(Contains(bytes, std::string("Exif\0\0", 6))) << name;
    EXPECT_FALSE(Contains(bytes, "http://ns.adobe.com/xap/1.0/")) << name;
    EXPECT_FALSE(Contains(bytes, "Photoshop 3.0")) << name;
    TPhotoText text;
    std::vector<TPhotoTextWarning> warnings;
    EXPECT_FALSE(ReadPhotoText(dir_.Join("p/quarto_tn").c_str(), name.c_str(), &text, &warnings)) << name;
  }
  EXPECT_GT(images, 0);
  EXPECT_TRUE(web_copy);

  r = Index({"--show-location=1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string tram = ViewerOf("tram.jpg");
  EXPECT_TRUE(Contains(tram,
                       "<dt>Place</dt><dd><a href=\"https://www.openstreetmap.org/?mlat=38.710000&amp;mlon=-9.133333"
                       "#map=15/38.710000/-9.133333\">38.710000, -9.133333</a></dd>"))
      << tram;
  EXPECT_FALSE(Contains(ViewerOf("quay.jpg"), "openstreetmap"));
}

TEST_F(CliPhotoTextTest, DamagedSidecarIsReportedAndThePageMadeWithoutIt) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("p/bare.jpg.json"), "{\"title\": [broken"));
  const TCliResult r = Index({});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "text left out p/bare.jpg.json: sidecar left out: not a JSON object")) << r.err;
  EXPECT_TRUE(Contains(ViewerOf("bare.jpg"), "<h1>bare.jpg</h1>"));
}

TEST_F(CliPhotoTextTest, CopiesInAnOutputFolderLeaveTheirLocationOutWhenAsked) {
  const std::string original = ReadFileBytes(dir_.Join("p/tram.jpg"));
  auto copy_text = [this](TPhotoText* text) {
    std::vector<TPhotoTextWarning> warnings;
    return ReadPhotoText(dir_.Join("out").c_str(), "tram.jpg", text, &warnings);
  };
  TCliResult r = Index({"--output=out", "--images=copy", "--strip-location=1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  TPhotoText text;
  ASSERT_TRUE(copy_text(&text));
  EXPECT_FALSE(text.has_location);
  EXPECT_EQ(text.title, "<script>alert(1)</script> Tram");  // the rest of the metadata stays
  EXPECT_EQ(ReadFileBytes(dir_.Join("p/tram.jpg")), original);  // the original untouched
  EXPECT_EQ(ReadFileBytes(dir_.Join("out/bare.jpg")), ReadFileBytes(dir_.Join("p/bare.jpg")));  // nothing to take out

  // A re-run keeps the stripped copy; without the option the copy is made whole again.
  struct stat before {};
  ASSERT_EQ(::stat(dir_.Join("out/tram.jpg").c_str(), &before), 0);
  ASSERT_EQ(Index({"--output=out", "--images=copy", "--strip-location=1"}).exit_code, 0);
  struct stat after {};
  ASSERT_EQ(::stat(dir_.Join("out/tram.jpg").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  ASSERT_EQ(Index({"--output=out", "--images=copy"}).exit_code, 0);
  EXPECT_EQ(ReadFileBytes(dir_.Join("out/tram.jpg")), original);
  ASSERT_EQ(Index({"--output=out", "--images=copy", "--strip-location=1"}).exit_code, 0);
  ASSERT_TRUE(copy_text(&text));
  EXPECT_FALSE(text.has_location);
}

// Sidecars are the user's files: neither pruning (a photo gone, its
// sidecars left) nor the clean-up takes one.
TEST_F(CliPhotoTextTest, RunsPruningAndCleanUpLeaveSidecarsAlone) {
  const std::vector<std::string> sidecars = {"p/tram.jpg.xmp", "p/tram.xmp", "p/tram.md", "p/tram.jpg.json",
                                             "p/tram.jpg.supplemental-metadata.json", "p/quay.md",
                                             "p/plain.jpg.json", "p/index.md"};
  for (const std::string& s : sidecars) {
    if (!FileExists(dir_.Join(s))) {
      ASSERT_TRUE(WriteFileBytes(dir_.Join(s), "Title: kept\n"));
    }
  }
  std::map<std::string, std::string> before;
  for (const std::string& s : sidecars) before[s] = ReadFileBytes(dir_.Join(s));
  ASSERT_EQ(Index({}).exit_code, 0);
  ASSERT_EQ(::unlink(dir_.Join("p/tram.jpg").c_str()), 0);
  ASSERT_EQ(::unlink(dir_.Join("p/quay.jpg").c_str()), 0);
  ASSERT_EQ(Index({"--prune"}).exit_code, 0);
  const TCliResult clean = RunCli({"clean", "p"}, dir_.path());
  ASSERT_EQ(clean.exit_code, 0) << clean.err;
  EXPECT_FALSE(FileExists(dir_.Join("p/vellumcast.html")));
  for (const std::string& s : sidecars) EXPECT_EQ(ReadFileBytes(dir_.Join(s)), before[s]) << s;
}

}  // namespace
