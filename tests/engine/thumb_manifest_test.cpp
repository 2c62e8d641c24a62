#include "engine/store/thumb_manifest.h"

#include <gtest/gtest.h>

#include <string>

#include "fixtures/tree_writer.h"

namespace {

TThumbRecord MakeRecord(int32_t position, const char* name, int64_t size) {
  TThumbRecord r;
  r.position = position;
  r.thumb_size = size;
  r.stamp.size = 1000 + size;
  r.stamp.mtime_ns = -1234567890123;  // before 1970
  r.stamp.inode = UINT64_MAX;
  r.stamp.ctime_ns = INT64_MAX;
  r.name = name;
  return r;
}

std::string TextOf(const TThumbSettings& settings, const std::vector<TThumbRecord>& records) {
  TManifestText text(settings);
  for (const TThumbRecord& r : records) text.Add(r);
  EXPECT_TRUE(text.Finish());
  return std::string(text.Data(), text.Size());
}

TThumbSettings Settings() {
  TThumbSettings s;
  s.cellwidth = 120;
  s.cellheight = 80;
  s.thumbwhite = 255;
  return s;
}

TEST(ThumbManifest, EveryNameAndStampComesBackAsWritten) {
  const char* names[] = {"b photo.jpg", "a%41.jpg", "line\nbreak.jpg", "\xc3\xa9t\xc3\xa9.jpg", "tab\t.gif", "z.bmp"};
  std::vector<TThumbRecord> records;
  for (int i = 0; i < 6; ++i) records.push_back(MakeRecord(i * 3, names[i], 500 + i));
  const std::string text = TextOf(Settings(), records);
  // One record per line, whatever the names hold.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6 + 3);

  TThumbManifest manifest;
  ASSERT_TRUE(manifest.Parse(text.data(), text.size()));
  EXPECT_TRUE(manifest.Settings() == Settings());
  ASSERT_EQ(manifest.Count(), 6);
  for (const TThumbRecord& expected : records) {
    SCOPED_TRACE(expected.name);
    const int32_t at = manifest.FindFirst(expected.name);
    ASSERT_GE(at, 0);
    const TThumbRecord& got = manifest.Record(at);
    EXPECT_STREQ(got.name, expected.name);
    EXPECT_EQ(got.position, expected.position);
    EXPECT_EQ(got.thumb_size, expected.thumb_size);
    EXPECT_TRUE(got.stamp == expected.stamp);
  }
  EXPECT_EQ(manifest.FindFirst("missing.jpg"), -1);
  EXPECT_EQ(manifest.FindFirst("a"), -1);  // a prefix of a name is no name
}

TEST(ThumbManifest, AnEmptyManifestIsValid) {
  const std::string text = TextOf(Settings(), {});
  TThumbManifest manifest;
  EXPECT_TRUE(manifest.Parse(text.data(), text.size()));
  EXPECT_EQ(manifest.Count(), 0);
}

// Anything but a whole manifest of this version is refused as a whole.
TEST(ThumbManifest, EveryCutAndEveryAlteredByteIsRefused) {
  const std::string text =
      TextOf(Settings(), {MakeRecord(0, "a.jpg", 10), MakeRecord(1, "b.jpg", 11), MakeRecord(2, "c.jpg", 12)});
  TThumbManifest manifest;
  for (size_t length = 0; length < text.size(); ++length) {
    EXPECT_FALSE(manifest.Parse(text.data(), length)) << "cut to " << length;
    EXPECT_EQ(manifest.Count(), 0);
  }
  for (size_t at = 0; at < text.size(); ++at) {
    std::string altered = text;
    altered[at] = static_cast<char>(altered[at] ^ 0x01);
    EXPECT_FALSE(manifest.Parse(altered.data(), altered.size())) << "byte " << at;
  }
  EXPECT_FALSE(manifest.Parse((text + "t 3 1 1 1 1 1 d.jpg\n").data(), text.size() + 20));
}

// Lines whose checksum is right but whose content is not a manifest of ours.
TEST(ThumbManifest, WellSealedButMalformedContentIsRefused) {
  auto sealed = [](const std::string& body, int records) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : body) {
      h ^= c;
      h *= 0x100000001b3ull;
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, "end %d %016llx\n", records, static_cast<unsigned long long>(h));
    return body + tail;
  };
  const std::string head = "vellumcast-manifest 1\nsettings 1 120 80 0\n";
  EXPECT_TRUE(TThumbManifest().Parse(sealed(head + "t 0 5 6 7 8 9 a.jpg\n", 1).data(),
                                     sealed(head + "t 0 5 6 7 8 9 a.jpg\n", 1).size()));
  const struct {
    const char* label;
    std::string body;
    int records;
  } cases[] = {
      {"other format version", "vellumcast-manifest 2\nsettings 1 120 80 0\n", 0},
      {"no settings", "vellumcast-manifest 1\n", 0},
      {"zero cell width", "vellumcast-manifest 1\nsettings 1 0 80 0\n", 0},
      {"count above the records", head + "t 0 5 6 7 8 9 a.jpg\n", 2},
      {"count below the records", head + "t 0 5 6 7 8 9 a.jpg\n", 0},
      {"same position twice", head + "t 4 5 6 7 8 9 a.jpg\nt 4 5 6 7 8 9 b.jpg\n", 2},
      {"name with a slash", head + "t 0 5 6 7 8 9 a/b.jpg\n", 1},
      {"escaped slash", head + "t 0 5 6 7 8 9 a%2Fb.jpg\n", 1},
      {"escaped NUL", head + "t 0 5 6 7 8 9 a%00b.jpg\n", 1},
      {"broken escape", head + "t 0 5 6 7 8 9 a%4\n", 1},
      {"no name", head + "t 0 5 6 7 8 9\n", 1},
      {"extra word", head + "t 0 5 6 7 8 9 a.jpg x\n", 1},
      {"double space", head + "t 0  5 6 7 8 9 a.jpg\n", 1},
      {"negative size", head + "t 0 -5 6 7 8 9 a.jpg\n", 1},
      {"leading zero", head + "t 01 5 6 7 8 9 a.jpg\n", 1},
      {"position past nine digits", head + "t 1000000000 5 6 7 8 9 a.jpg\n", 1},
      {"number too large", head + "t 0 99999999999999999999 6 7 8 9 a.jpg\n", 1},
      {"unknown line", head + "x 0 5 6 7 8 9 a.jpg\n", 1},
  };
  for (const auto& c : cases) {
    const std::string text = sealed(c.body, c.records);
    EXPECT_FALSE(TThumbManifest().Parse(text.data(), text.size())) << c.label;
  }
}

TEST(ThumbManifest, ReadsOnlyARegularFileNeverThroughALink) {
  TScratchDir dir("vc-manifest");
  const std::string text = TextOf(Settings(), {MakeRecord(0, "a.jpg", 10)});
  ASSERT_TRUE(WriteFileBytes(dir.Join("m"), text));
  TThumbManifest manifest;
  ASSERT_TRUE(manifest.Read(dir.Join("m").c_str()));
  EXPECT_EQ(std::string(manifest.Raw(), manifest.RawSize()), text);
  ASSERT_EQ(::symlink("m", dir.Join("link").c_str()), 0);
  EXPECT_FALSE(manifest.Read(dir.Join("link").c_str()));
  EXPECT_FALSE(manifest.Valid());
  EXPECT_FALSE(manifest.Read(dir.path().c_str()));
  EXPECT_FALSE(manifest.Read(dir.Join("missing").c_str()));
}

}  // namespace
