#include "engine/store/generated_names.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fixtures/tree_writer.h"

namespace {

struct TNumberedCase {
  const char* name;
  bool matches;
  int32_t number;
};

TEST(GeneratedNames, CatalogPagesAreVellumcastAndAPageNumberWithoutLeadingZeros) {
  const std::vector<TNumberedCase> cases = {
      {"vellumcast.html", true, 0},     {"vellumcast1.html", true, 1},
      {"vellumcast42.html", true, 42},  {"VellumCast7.HTML", true, 7},
      {"vellumcast0.html", false, 0},   {"vellumcast01.html", false, 0},
      {"vellumcast-1.html", false, 0},  {"vellumcast1234567890.html", false, 0},
      {"myvellumcast.html", false, 0},  {"vellumcast.html.bak", false, 0},
      {"vellumcast.htm", false, 0},     {"vellumcast", false, 0},
      {"vellumcast1.html ", false, 0},  {"", false, 0},
  };
  for (const TNumberedCase& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t page = -1;
    EXPECT_EQ(IsCatalogPageName(c.name, &page), c.matches);
    if (c.matches) {
      EXPECT_EQ(page, c.number);
    }
  }
}

TEST(GeneratedNames, CellThumbnailsAreQuartoTnAndAPosition) {
  const std::vector<TNumberedCase> cases = {
      {"quarto_tn0.jpg", true, 0},        {"quarto_tn17.jpg", true, 17},
      {"QUARTO_TN3.JPG", true, 3},        {"quarto_tn00.jpg", false, 0},
      {"quarto_tn.jpg", false, 0},        {"quarto_tn0.jpeg", false, 0},
      {"My quarto_tn photo.jpg", false, 0}, {"quarto_tn_holiday.jpg", false, 0},
      {"x_quarto_tn0.jpg", false, 0},     {"quarto_tn0.jpg~", false, 0},
  };
  for (const TNumberedCase& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t position = -1;
    EXPECT_EQ(IsCellThumbnailName(c.name, &position), c.matches);
    if (c.matches) {
      EXPECT_EQ(position, c.number);
    }
  }
}

struct TNameCase {
  const char* name;
  bool folder_file;     // IsGeneratedFolderFileName
  bool thumbnail_file;  // IsGeneratedThumbnailFileName
};

TEST(GeneratedNames, EachPlaceHasItsOwnExactNames) {
  const std::vector<TNameCase> cases = {
      {"vellumcast.html", true, false},
      {"vellumcast3.html", true, false},
      {"imageback.html", true, false},
      {"IMAGEBACK.HTML", true, false},
      {"vellumcast-view-0123456789abcdef.html", true, false},
      {"vellumcast-view-0123456789abcde.html", false, false},
      {"vellumcast-view-0123456789abcdefa.html", false, false},
      {"vellumcast-view-0123456789abcdeg.html", false, false},
      {"vellumcast-search.js", true, false},
      {"Vellumcast-Search.JS", true, false},
      {"vellumcast-search.js.tmp4242-1", true, false},
      {"vellumcast-search.json", false, false},
      {"my-vellumcast-search.js", false, false},
      {"index.md", false, false},
      {"quarto_tn0.jpg", false, true},
      {"vc-0123456789abcdef-1x.jpg", false, true},
      {"vc-0123456789abcdef-2x.jpg", false, true},
      {"vc-0123456789abcdef-web.jpg", false, true},
      {"vc-0123456789abcdef.jpg", false, false},
      {"vellumcast.manifest", false, true},
      {"my vellumcast.html notes.txt", false, false},
      {"imageback.html~", false, false},
      {"old_imageback.html", false, false},
      {"index.html", false, false},
      {"quarto_tn", false, false},
      // Temporary names of pages (pid-n), thumbnails (pid_n) and memory-written thumbnails (pid_wn).
      {"vellumcast.html.tmp4242-1", true, false},
      {"imageback.html.TMP1-2", true, false},
      {"quarto_tn0.jpg.tmp77_3", false, true},
      {"quarto_tn0.jpg.tmp77_w3", false, true},
      {"vellumcast.manifest.tmp5-6", false, true},
      {"vellumcast.html.tmp", false, false},
      {"vellumcast.html.tmp12", false, false},
      {"vellumcast.html.tmp12-", false, false},
      {"vellumcast.html.tmp-3", false, false},
      {"vellumcast.html.tmp1-2x", false, false},
      {"vellumcast.html.tmp1_x2", false, false},
      {"notes.txt.tmp12-3", false, false},
      {"vellumcast.html.bak.tmp1-2", false, false},
      {"vellumcast.html.tmp1-2.tmp3-4", false, false},
  };
  for (const TNameCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsGeneratedFolderFileName(c.name), c.folder_file);
    EXPECT_EQ(IsGeneratedThumbnailFileName(c.name), c.thumbnail_file);
  }
}

TEST(GeneratedNames, FoldersAndSingleNames) {
  EXPECT_TRUE(IsThumbnailFolderName("quarto_tn"));
  EXPECT_TRUE(IsThumbnailFolderName("Quarto_TN"));
  EXPECT_FALSE(IsThumbnailFolderName("my_quarto_tn_pics"));
  EXPECT_FALSE(IsThumbnailFolderName("quarto_tn2"));
  EXPECT_TRUE(IsManifestName("Vellumcast.Manifest"));
  EXPECT_FALSE(IsManifestName("vellumcast.manifest.old"));
  EXPECT_TRUE(IsBackLinkPageName("imageback.html"));
  EXPECT_FALSE(IsBackLinkPageName("imageback.htm"));
}

TEST(GeneratedNames, TemporarySuffixGivesTheBaseLength) {
  size_t base = 0;
  ASSERT_TRUE(HasTemporarySuffix("vellumcast2.html.tmp31-7", &base));
  EXPECT_EQ(base, std::string("vellumcast2.html").size());
  ASSERT_TRUE(HasTemporarySuffix("a.tmp1-2.tmp3_w4", &base));
  EXPECT_EQ(base, std::string("a.tmp1-2").size());
  EXPECT_FALSE(HasTemporarySuffix("vellumcast.html", &base));
}

TEST(GeneratedNames, NamedImageStemIsStableAndDiffersPerSource) {
  char a[32];
  char b[32];
  char again[32];
  NamedImageStem("photo.jpg", a, sizeof a);
  NamedImageStem("Photo.jpg", b, sizeof b);
  NamedImageStem("photo.jpg", again, sizeof again);
  EXPECT_STREQ(a, again);
  EXPECT_STRNE(a, b);
  EXPECT_TRUE(IsNamedImageName((std::string(a) + "-1x.jpg").c_str()));
}

TEST(GeneratedNames, PageContentCarriesTheMarkerNearItsStart) {
  TScratchDir dir("vc-names");
  const std::string marked = std::string("<html><head>") + kGeneratorMarker + "</head>";
  struct TContentCase {
    const char* label;
    std::string bytes;
    bool generated;
  };
  const std::vector<TContentCase> cases = {
      {"marker first", marked, true},
      {"marker in other case", "<HTML><META NAME=\"GENERATOR\" CONTENT=\"VELLUMCAST\">", true},
      {"marker ends at the window", std::string(kGeneratorMarkerWindow - std::string(kGeneratorMarker).size(), ' ') +
                                        kGeneratorMarker, true},
      {"marker past the window", std::string(kGeneratorMarkerWindow, ' ') + kGeneratorMarker, false},
      {"no marker", "<html><body>mine</body></html>", false},
      {"marker cut short", std::string(kGeneratorMarker).substr(0, 20), false},
      {"empty", "", false},
  };
  for (const TContentCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = dir.Join("page.html");
    ASSERT_TRUE(WriteFileBytes(path, c.bytes));
    EXPECT_EQ(IsGeneratedPageContent(path.c_str()), c.generated);
  }
  // Never through a link, never from a FIFO (which would block), never a missing file.
  ASSERT_TRUE(WriteFileBytes(dir.Join("real.html"), marked));
  ASSERT_EQ(::symlink(dir.Join("real.html").c_str(), dir.Join("link.html").c_str()), 0);
  EXPECT_FALSE(IsGeneratedPageContent(dir.Join("link.html").c_str()));
  ASSERT_EQ(::mkfifo(dir.Join("fifo.html").c_str(), 0600), 0);
  EXPECT_FALSE(IsGeneratedPageContent(dir.Join("fifo.html").c_str()));
  EXPECT_FALSE(IsGeneratedPageContent(dir.Join("missing.html").c_str()));
}

}  // namespace
