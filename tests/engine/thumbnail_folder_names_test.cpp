// The names of the files runs write into thumbnail folders, and that the
// clean-up removes them (the per-image files and their manifest included).

#include "engine/store/generated_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/store/clean.h"
#include "fixtures/tree_writer.h"

namespace {

namespace fs = std::filesystem;

TEST(ThumbnailFolderNames, ThumbnailFolderFiles) {
  struct TCase {
    const char* name;
    bool generated;
  } cases[] = {
      {"quarto_tn0.jpg", true},
      {"vc-0123456789abcdef-1x.jpg", true},
      {"VC-0123456789ABCDEF-2X.JPG", true},
      {"vc-0123456789abcdef-web.jpg", true},
      {"vellumcast.manifest", true},
      {"vellumcast-modern.manifest", true},
      {"VELLUMCAST-MODERN.MANIFEST", true},
      {"vellumcast-modern.manifest.tmp123_w4", true},
      {"vellumcast-modern.manifest.tmp12-3", true},
      {"vellumcast-modern.manifest.bak", false},
      {"vellumcast-modern.manifest.tmp", false},
      {"my-vellumcast-modern.manifest", false},
      {"vellumcast-modern.manifests", false},
      {"vc-0123456789abcde-1x.jpg", false},
      {"photo.jpg", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(IsGeneratedThumbnailFileName(c.name), c.generated) << c.name;
  EXPECT_TRUE(IsModernManifestName(kModernManifestFile));
  EXPECT_FALSE(IsGeneratedFolderFileName(kModernManifestFile));
}

TEST(ThumbnailFolderNames, CleanUpRemovesThePerImageFilesAndTheirManifest) {
  TScratchDir dir{"vc-names-clean"};
  const std::string thumbs = dir.Join("album/quarto_tn");
  ASSERT_TRUE(MakeDirs(thumbs));
  char stem[32];
  NamedImageStem("a.jpg", stem, sizeof stem);
  for (const std::string& name : {std::string(stem) + "-1x.jpg", std::string(stem) + "-2x.jpg",
                                 std::string(stem) + "-web.jpg", std::string(kModernManifestFile)}) {
    ASSERT_TRUE(WriteFileBytes(thumbs + "/" + name, "x"));
  }
  ASSERT_TRUE(WriteFileBytes(dir.Join("album/a.jpg"), "image"));
  const TCleanResult result = DeleteGenerated(dir.path().c_str());
  EXPECT_EQ(result.files_removed, 4);
  EXPECT_FALSE(fs::exists(thumbs));
  EXPECT_TRUE(fs::exists(dir.Join("album/a.jpg")));
}

}  // namespace
