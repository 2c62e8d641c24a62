// Writes a photographer's small story tree: photos whose words come from
// every source a modern catalog reads (embedded XMP, IPTC only, a real EXIF
// description, a camera's placeholder, an XMP sidecar, a Markdown sidecar, a
// Google Takeout JSON) and an album text that names its cover, with hostile
// markup in the texts a page shows:
//
//   FOLDER/                  harbour.jpg (no texts at all)
//     lisbon/                index.md (accented title, Markdown with <script>
//                            and a javascript: link, Thumbnail: tram.jpg)
//       alfama.jpg           IPTC Object Name, Caption, Keywords only
//       belem.jpg            EXIF ImageDescription only
//       camera.jpg           EXIF "OLYMPUS DIGITAL CAMERA" (a placeholder)
//       nata.jpg + nata.jpg.xmp          XMP sidecar
//       miradouro.jpg + miradouro.md     Markdown sidecar
//       sunset.jpg + sunset.jpg.json     Takeout JSON with a place
//       tram.jpg             XMP title, caption with <script>, keywords, GPS
//
// tram.jpg lies at 38.7138889 N, 9.1300000 W; sunset.jpg at 38.7071000 N,
// 9.1355000 W: pages must not show those digits unless asked to.
//
// Usage: make-story-tree FOLDER

#include <cstdio>
#include <string>

#include "fixtures/photo_text_writer.h"
#include "fixtures/tree_writer.h"

namespace {

bool WriteStoryTree(const std::string& root) {
  const std::string album = root + "/lisbon/";
  bool ok = WriteJpegWithMetadata(root + "/harbour.jpg", {});

  ok = ok && WriteFileBytes(album + "index.md",
                            "---\n"
                            "Title: Lisboa à noite — Graça\n"
                            "Thumbnail: tram.jpg\n"
                            "---\n"
                            "\n"
                            "Evenings on the **hills** of Lisbon.<script>alert('album')</script>\n"
                            "\n"
                            "[Tap here](javascript:alert('album-link')) or <img src=x onerror=alert(3)>.\n");

  TTestMetadata tram;
  tram.xmp = {{"Xmp.dc.title", "lang=x-default Tram 28"},
              {"Xmp.dc.description",
               "lang=x-default Tram 28 climbing to Graça, Lisbon <script>alert(1)</script>\nThe yellow line."},
              {"Xmp.dc.subject", "elétrico"},
              {"Xmp.dc.subject", "yellowtram"},
              {"Xmp.xmp.Rating", "4"}};
  tram.exif = {{"Exif.GPSInfo.GPSLatitudeRef", "N"},
               {"Exif.GPSInfo.GPSLatitude", "38/1 42/1 50/1"},
               {"Exif.GPSInfo.GPSLongitudeRef", "W"},
               {"Exif.GPSInfo.GPSLongitude", "9/1 7/1 48/1"}};
  ok = ok && WriteJpegWithMetadata(album + "tram.jpg", tram);

  TTestMetadata alfama;
  alfama.iptc = {{"Iptc.Envelope.CharacterSet", "\x1b%G"},
                 {"Iptc.Application2.ObjectName", "Alfama rooftops"},
                 {"Iptc.Application2.Caption", "Morning over the terracotta roofs"},
                 {"Iptc.Application2.Keywords", "rooftops"},
                 {"Iptc.Application2.Keywords", "azulejo"}};
  ok = ok && WriteJpegWithMetadata(album + "alfama.jpg", alfama);

  TTestMetadata belem;
  belem.exif = {{"Exif.Image.ImageDescription", "Belém tower at low tide"}, {"Exif.Image.Make", "Canon"},
                {"Exif.Image.Model", "Canon EOS R"}};
  ok = ok && WriteJpegWithMetadata(album + "belem.jpg", belem);

  TTestMetadata camera;
  camera.exif = {{"Exif.Image.ImageDescription", "OLYMPUS DIGITAL CAMERA"},
                 {"Exif.Image.Make", "OLYMPUS IMAGING CORP."},
                 {"Exif.Image.Model", "E-M5"}};
  ok = ok && WriteJpegWithMetadata(album + "camera.jpg", camera);

  ok = ok && WriteJpegWithMetadata(album + "nata.jpg", {});
  const std::string packet = MakeXmpPacket({{"Xmp.dc.title", "lang=x-default Pastéis de nata"},
                                            {"Xmp.dc.description", "lang=x-default Warm from the oven"},
                                            {"Xmp.dc.subject", "pastry"}});
  ok = ok && !packet.empty() && WriteFileBytes(album + "nata.jpg.xmp", packet);

  ok = ok && WriteJpegWithMetadata(album + "miradouro.jpg", {});
  ok = ok && WriteFileBytes(album + "miradouro.md",
                            "Title: Miradouro da Graça\n"
                            "Keywords: viewpoint, dusk\n"
                            "\n"
                            "The **best** view <script>alert('md')</script> of the "
                            "[castle](javascript:alert('md-link')) at dusk.\n");

  ok = ok && WriteJpegWithMetadata(album + "sunset.jpg", {});
  ok = ok && WriteFileBytes(album + "sunset.jpg.json",
                            R"({"title": "sunset.jpg", "description": "Sunset from São Jorge castle",)"
                            R"( "photoTakenTime": {"timestamp": "1561986000", "formatted": "1 Jul 2019"},)"
                            R"( "geoData": {"latitude": 38.7071, "longitude": -9.1355, "altitude": 0.0}})");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-story-tree FOLDER\n");
    return 2;
  }
  if (!MakeDirs(std::string(argv[1]) + "/lisbon") || !WriteStoryTree(argv[1])) {
    std::fprintf(stderr, "make-story-tree: cannot write the tree under %s\n", argv[1]);
    return 1;
  }
  return 0;
}
