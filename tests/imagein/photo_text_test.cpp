// A photo's texts from its own metadata and its sidecars.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "fixtures/photo_text_writer.h"
#include "fixtures/tree_writer.h"
#include "imagein/photo_text.h"
#include "imagein/photo_text_parts.h"

namespace {

using TStrings = std::vector<std::string>;

std::string Reasons(const std::vector<TPhotoTextWarning>& warnings) {
  std::string all;
  for (const TPhotoTextWarning& w : warnings) all += w.path + ": " + w.reason + "\n";
  return all;
}

class PhotoTextTest : public ::testing::Test {
 protected:
  bool Read(TPhotoText* text, const char* name = "IMG_1.jpg") {
    warnings_.clear();
    return ReadPhotoText(dir_.path().c_str(), name, text, &warnings_);
  }
  void Put(const std::string& name, const std::string& bytes) { ASSERT_TRUE(WriteFileBytes(dir_.Join(name), bytes)); }
  TScratchDir dir_{"vc-phototext"};
  std::vector<TPhotoTextWarning> warnings_;
};

TEST_F(PhotoTextTest, ReadsEachFieldFromEmbeddedMetadata) {
  TTestMetadata m;
  m.xmp = {{"Xmp.dc.title", "lang=x-default Tram 28"},
           {"Xmp.dc.description", "lang=x-default Climbing the hill.\nSecond line."},
           {"Xmp.dc.subject", "Lisbon"},
           {"Xmp.xmp.Rating", "4"},
           {"Xmp.aux.Lens", "XF 23mm F2"}};
  m.iptc = {{"Iptc.Envelope.CharacterSet", "\x1b%G"},
            {"Iptc.Application2.Keywords", "tram"},
            {"Iptc.Application2.Keywords", "Lisbon"}};
  m.exif = {{"Exif.Photo.LensModel", "XF 35mm F1.4"},
            {"Exif.GPSInfo.GPSLatitudeRef", "N"},
            {"Exif.GPSInfo.GPSLatitude", "38/1 42/1 36/1"},
            {"Exif.GPSInfo.GPSLongitudeRef", "W"},
            {"Exif.GPSInfo.GPSLongitude", "9/1 8/1 0/1"}};
  ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("IMG_1.jpg"), m));
  TPhotoText text;
  ASSERT_TRUE(Read(&text)) << Reasons(warnings_);
  EXPECT_TRUE(warnings_.empty()) << Reasons(warnings_);
  EXPECT_EQ(text.title, "Tram 28");
  EXPECT_EQ(text.caption, "Climbing the hill.\nSecond line.");
  EXPECT_FALSE(text.caption_markdown);
  EXPECT_EQ(text.keywords, (TStrings{"Lisbon", "tram"}));  // merged, no repeats
  EXPECT_EQ(text.rating, 4);
  EXPECT_EQ(text.lens, "XF 35mm F1.4");  // the EXIF lens before the XMP one
  ASSERT_TRUE(text.has_location);
  EXPECT_NEAR(text.latitude, 38.71, 1e-9);
  EXPECT_NEAR(text.longitude, -(9 + 8.0 / 60), 1e-9);
  EXPECT_TRUE(text.date_taken.empty());  // the EXIF date is the image's, not a text
}

TEST_F(PhotoTextTest, IptcAndExifStandInForMissingXmp) {
  struct TCase {
    const char* what;
    TTestMetadata metadata;
    const char* title;
    const char* caption;
  } cases[] = {
      {"IPTC name and caption", {{}, {{"Iptc.Application2.ObjectName", "Quay"}, {"Iptc.Application2.Caption", "At dusk"}}, {}},
       "Quay", "At dusk"},
      {"XMP over IPTC",
       {{{"Xmp.dc.title", "lang=x-default From XMP"}}, {{"Iptc.Application2.ObjectName", "From IPTC"}}, {}},
       "From XMP", ""},
      {"EXIF description", {{}, {}, {{"Exif.Image.ImageDescription", "Harbour wall"}}}, "", "Harbour wall"},
      {"IPTC caption over EXIF",
       {{}, {{"Iptc.Application2.Caption", "iptc"}}, {{"Exif.Image.ImageDescription", "exif"}}}, "", "iptc"},
      {"Latin-1 IPTC without a character set",
       {{}, {{"Iptc.Application2.ObjectName", "Caf\xe9"}, {"Iptc.Application2.Caption", "Stra\xdf" "e"}}, {}},
       "Caf\xc3\xa9", "Stra\xc3\x9f" "e"},
      {"UTF-8 IPTC without a character set", {{}, {{"Iptc.Application2.ObjectName", "Caf\xc3\xa9"}}, {}},
       "Caf\xc3\xa9", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("IMG_1.jpg"), c.metadata));
    TPhotoText text;
    Read(&text);
    EXPECT_EQ(text.title, c.title);
    EXPECT_EQ(text.caption, c.caption);
    EXPECT_TRUE(warnings_.empty()) << Reasons(warnings_);
  }
}

TEST_F(PhotoTextTest, InvalidUtf8IsDroppedWithAWarning) {
  TTestMetadata m;
  m.iptc = {{"Iptc.Envelope.CharacterSet", "\x1b%G"}, {"Iptc.Application2.ObjectName", "Caf\xe9"}};
  m.exif = {{"Exif.Image.ImageDescription", "bad \xff\xfe bytes"}};
  ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("IMG_1.jpg"), m));
  TPhotoText text;
  Read(&text);
  EXPECT_EQ(text.title, "");
  EXPECT_EQ(text.caption, "");
  const std::string reasons = Reasons(warnings_);
  EXPECT_NE(reasons.find("IPTC text left out: not UTF-8"), std::string::npos) << reasons;
  EXPECT_NE(reasons.find("EXIF description left out: not UTF-8"), std::string::npos) << reasons;
}

TEST_F(PhotoTextTest, CameraPlaceholderDescriptionsAreNoCaption) {
  struct TCase {
    const char* description;
    const char* make;
    const char* model;
    bool placeholder;
  } cases[] = {
      {"OLYMPUS DIGITAL CAMERA", "OLYMPUS IMAGING CORP.", "E-M5", true},
      {"SONY DSC", "SONY", "ILCE-7M3", true},
      {"   ", "", "", true},
      {"Canon EOS 5D", "Canon", "Canon EOS 5D", true},
      {"NIKON D750", "NIKON CORPORATION", "NIKON D750", true},
      {"FUJIFILM DIGITAL CAMERA", "FUJIFILM", "X-T3", true},
      {"dcim", "", "", true},
      {"SUNSET OVER THE BAY", "Canon", "EOS R", false},
      {"Sonya at the digital camera shop", "SONY", "DSC-RX100", false},
      {"Grandma's 80th birthday", "Apple", "iPhone 12", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.description);
    TTestMetadata m;
    m.exif = {{"Exif.Image.ImageDescription", c.description}};
    if (*c.make != '\0') m.exif.push_back({"Exif.Image.Make", c.make});
    if (*c.model != '\0') m.exif.push_back({"Exif.Image.Model", c.model});
    ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("IMG_1.jpg"), m));
    TPhotoText text;
    Read(&text);
    EXPECT_EQ(text.caption, c.placeholder ? "" : c.description);
  }
}

// The photo's own metadata, then an XMP sidecar, a Markdown sidecar and a
// Takeout JSON, a later one winning field by field.
TEST_F(PhotoTextTest, LaterSourcesWinFieldByField) {
  const std::string embedded_xmp = "embedded";
  struct TCase {
    const char* what;
    bool embedded;
    const char* xmp_name;  // null: no XMP sidecar
    bool markdown;
    const char* json_name;  // null: no JSON
    const char* title;
    const char* caption;
    bool caption_markdown;
    TStrings keywords;
    int32_t rating;
    const char* date;
  } cases[] = {
      {"embedded only", true, nullptr, false, nullptr, "E title", "E caption", false, {"e"}, 2, ""},
      {"xmp sidecar by full name", true, "IMG_1.jpg.xmp", false, nullptr, "X title", "E caption", false, {"x1", "x2"}, 5,
       "2021-03-04 05:06:07"},
      {"xmp sidecar by stem", true, "IMG_1.xmp", false, nullptr, "X title", "E caption", false, {"x1", "x2"}, 5,
       "2021-03-04 05:06:07"},
      {"markdown over xmp", true, "IMG_1.jpg.xmp", true, nullptr, "M title", "M *caption*", true, {"m"}, 5,
       "2022-01-02 03:04:05"},
      {"json over markdown", true, "IMG_1.xmp", true, "IMG_1.jpg.json", "J title", "J caption", false, {"m"}, 5,
       "2023-11-14 22:13:20"},
      {"supplemental json", false, nullptr, false, "IMG_1.jpg.supplemental-metadata.json", "J title", "J caption",
       false, {}, 0, "2023-11-14 22:13:20"},
      {"sidecars without a photo metadata", false, "IMG_1.xmp", true, nullptr, "M title", "M *caption*", true, {"m"},
       5, "2022-01-02 03:04:05"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(dir_.path());
    ASSERT_TRUE(MakeDirs(dir_.path()));
    TTestMetadata m;
    if (c.embedded) {
      m.xmp = {{"Xmp.dc.title", "lang=x-default E title"},
               {"Xmp.dc.description", "lang=x-default E caption"},
               {"Xmp.dc.subject", "e"},
               {"Xmp.xmp.Rating", "2"}};
    }
    ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("IMG_1.jpg"), m));
    if (c.xmp_name != nullptr) {
      const std::string packet = MakeXmpPacket({{"Xmp.dc.title", "lang=x-default X title"},
                                                {"Xmp.dc.subject", "x1"},
                                                {"Xmp.dc.subject", "x2"},
                                                {"Xmp.xmp.Rating", "5"},
                                                {"Xmp.exif.DateTimeOriginal", "2021-03-04T05:06:07+01:00"}});
      ASSERT_FALSE(packet.empty());
      Put(c.xmp_name, packet);
    }
    if (c.markdown) Put("IMG_1.md", "Title: M title\nKeywords: m, m\nDate: 2022-01-02 03:04:05\n\nM *caption*\n");
    if (c.json_name != nullptr) {
      Put(c.json_name,
          R"({"title":"J title","description":"J caption","photoTakenTime":{"timestamp":"1700000000"}})");
    }
    TPhotoText text;
    Read(&text);
    EXPECT_TRUE(warnings_.empty()) << Reasons(warnings_);
    EXPECT_EQ(text.title, c.title);
    EXPECT_EQ(text.caption, c.caption);
    EXPECT_EQ(text.caption_markdown, c.caption_markdown);
    EXPECT_EQ(text.keywords, c.keywords);
    EXPECT_EQ(text.rating, c.rating);
    EXPECT_EQ(text.date_taken, c.date);
  }
}

TEST_F(PhotoTextTest, TakeoutJsonReadsOnlyWhatItMeans) {
  struct TCase {
    const char* json;
    const char* title;
    bool has_location;
    const char* date;
    bool warned;
  } cases[] = {
      {R"({"title":"IMG_1.jpg","geoData":{"latitude":48.85,"longitude":2.35}})", "", true, "", false},
      {R"({"title":"Paris","geoData":{"latitude":0.0,"longitude":0.0}})", "Paris", false, "", false},
      {R"({"title":7,"geoData":{"latitude":"48","longitude":2}})", "", false, "", false},
      {R"({"photoTakenTime":{"timestamp":"soon"}})", "", false, "", true},
      {R"({"photoTakenTime":{"timestamp":0}})", "", false, "", true},
      {R"({"photoTakenTime":{"timestamp":86400}})", "", false, "1970-01-02 00:00:00", false},
      {R"({"geoData":{"latitude":123,"longitude":2}})", "", false, "", false},
      {R"(["not", "an", "object"])", "", false, "", true},
      {R"({"title": "cut short)", "", false, "", true},
  };
  ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("IMG_1.jpg"), {}));
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.json);
    Put("IMG_1.jpg.json", c.json);
    TPhotoText text;
    Read(&text);
    EXPECT_EQ(text.title, c.title);
    EXPECT_EQ(text.has_location, c.has_location);
    EXPECT_EQ(text.date_taken, c.date);
    EXPECT_EQ(!warnings_.empty(), c.warned) << Reasons(warnings_);
  }
}

// A sidecar that cannot be used is left out with a warning; the others and
// the photo's own texts stay.
TEST_F(PhotoTextTest, DamagedOrOversizedSidecarsAreLeftOut) {
  TTestMetadata m;
  m.xmp = {{"Xmp.dc.title", "lang=x-default Embedded"}};
  struct TCase {
    const char* what;
    const char* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"oversized markdown", "IMG_1.md", "Title: Big\n\n" + std::string(kMaxTextSidecarBytes, 'x'), "sidecar left out"},
      {"markdown not UTF-8", "IMG_1.md", "Title: Caf\xe9\n", "not UTF-8"},
      {"damaged xmp", "IMG_1.xmp", "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF", "not a readable XMP packet"},
      {"xmp of another kind", "IMG_1.jpg.xmp", std::string(1000, '\xff'), "not a readable XMP packet"},
      {"damaged json", "IMG_1.jpg.json", "{\"title\": [1, 2", "not a JSON object"},
      {"json not UTF-8", "IMG_1.jpg.json", "{\"title\": \"Caf\xe9\"}", "not a JSON object"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(dir_.path());
    ASSERT_TRUE(MakeDirs(dir_.path()));
    ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("IMG_1.jpg"), m));
    Put(c.name, c.bytes);
    TPhotoText text;
    Read(&text);
    EXPECT_EQ(text.title, "Embedded");
    ASSERT_EQ(warnings_.size(), 1u) << Reasons(warnings_);
    EXPECT_EQ(warnings_[0].path, dir_.Join(c.name));
    EXPECT_NE(warnings_[0].reason.find(c.reason), std::string::npos) << warnings_[0].reason;
  }
}

TEST_F(PhotoTextTest, DamagedMetadataBlockGivesAWarningAndNoCrash) {
  TTestMetadata m;
  m.xmp = {{"Xmp.dc.title", "lang=x-default Kept?"}};
  ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("IMG_1.jpg"), m));
  std::string bytes = ReadFileBytes(dir_.Join("IMG_1.jpg"));
  // Cut the file inside its XMP segment.
  const size_t xmp = bytes.find("http://ns.adobe.com/xap/1.0/");
  ASSERT_NE(xmp, std::string::npos);
  Put("IMG_1.jpg", bytes.substr(0, xmp + 60));
  TPhotoText text;
  EXPECT_FALSE(Read(&text));
  EXPECT_EQ(text.title, "");
  EXPECT_FALSE(warnings_.empty());
}

TEST_F(PhotoTextTest, TextsAreCappedAndKeywordsBounded) {
  std::string markdown = "Title: " + std::string(5000, 'T') + "\nKeywords: ";
  for (int i = 0; i < 3000; ++i) markdown += "k" + std::to_string(i) + ",";
  markdown += "\n\n" + std::string(100 * 1024, 'c');
  // A multi-byte character across the cut is not split.
  markdown.replace(markdown.size() - kMaxPhotoCaptionBytes + 10 * 1024 - 1, 2, "\xc3\xa9");
  TPhotoText text;
  std::vector<TPhotoTextWarning> warnings;
  ReadMarkdownSidecarText(markdown, "IMG_1.md", &text, &warnings);
  EXPECT_EQ(text.title.size(), kMaxPhotoTitleBytes);
  EXPECT_EQ(text.keywords.size(), kMaxPhotoKeywords);
  EXPECT_LE(text.caption.size(), kMaxPhotoCaptionBytes);
  EXPECT_TRUE(IsUtf8Text(text.caption));
  EXPECT_EQ(TidyText("ab\xc3\xa9", 3), "ab");
}

TEST_F(PhotoTextTest, IndexMdIsNoPhotoSidecar) {
  ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("index.jpg"), {}));
  Put("index.md", "Title: The album\n\nAbout the album.\n");
  TPhotoText text;
  EXPECT_FALSE(Read(&text, "index.jpg"));
  EXPECT_EQ(text.title, "");
  for (const std::string& name : PhotoTextSidecarNames("index.jpg")) EXPECT_NE(name, "index.md");
}

TEST_F(PhotoTextTest, SidecarKeyFollowsAppearingEditedAndRemovedSidecars) {
  ASSERT_TRUE(WriteJpegWithMetadata(dir_.Join("IMG_1.jpg"), {}));
  const std::string folder = dir_.path();
  const uint64_t none = PhotoTextSidecarKey(folder.c_str(), "IMG_1.jpg");
  EXPECT_EQ(none, 0u);
  Put("IMG_1.md", "First\n");
  const uint64_t first = PhotoTextSidecarKey(folder.c_str(), "IMG_1.jpg");
  EXPECT_NE(first, 0u);
  EXPECT_EQ(PhotoTextSidecarKey(folder.c_str(), "IMG_1.jpg"), first);
  Put("IMG_1.md", "Second, longer\n");
  const uint64_t edited = PhotoTextSidecarKey(folder.c_str(), "IMG_1.jpg");
  EXPECT_NE(edited, first);
  Put("IMG_1.jpg.json", "{}");
  EXPECT_NE(PhotoTextSidecarKey(folder.c_str(), "IMG_1.jpg"), edited);
  ASSERT_EQ(::unlink(dir_.Join("IMG_1.jpg.json").c_str()), 0);
  ASSERT_EQ(::unlink(dir_.Join("IMG_1.md").c_str()), 0);
  EXPECT_EQ(PhotoTextSidecarKey(folder.c_str(), "IMG_1.jpg"), 0u);
}

}  // namespace
