// The canvas sizes of HEIF grids and overlays, read from the item boxes
// before libheif allocates them.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imagein/heif_canvas.h"

namespace {

using TBytes = std::vector<uint8_t>;

void Put(TBytes& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

TBytes Box(const char* type, const TBytes& body) {
  TBytes out;
  Put(out, body.size() + 8, 4);
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

TBytes Cat(std::initializer_list<TBytes> parts) {
  TBytes out;
  for (const TBytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TBytes Infe(uint16_t id, const char* type) {
  TBytes body = {2, 0, 0, 0};
  Put(body, id, 2);
  Put(body, 0, 2);
  body.insert(body.end(), type, type + 4);
  return Box("infe", body);
}

// A grid's (or overlay's) data: its canvas in 16- or 32-bit fields.
TBytes Canvas(bool overlay, uint64_t width, uint64_t height, bool wide) {
  TBytes data = {0, static_cast<uint8_t>(wide ? 1 : 0)};
  data.insert(data.end(), overlay ? 8 : 2, 0);
  Put(data, width, wide ? 4 : 2);
  Put(data, height, wide ? 4 : 2);
  return data;
}

// A file whose item 1 is a grid or overlay with `data` in its idat box at
// `offset`, `length` bytes long.
TBytes File(const char* type, const TBytes& data, uint32_t offset, uint32_t length) {
  TBytes iinf_body = {0, 0, 0, 0, 0, 1};
  const TBytes iinf = Box("iinf", Cat({iinf_body, Infe(1, type)}));
  TBytes iloc_body = {1, 0, 0, 0, 0x44, 0x00};
  Put(iloc_body, 1, 2);       // one item
  Put(iloc_body, 1, 2);       // item 1
  Put(iloc_body, 1, 2);       // in the idat box
  Put(iloc_body, 0, 2);       // data reference
  Put(iloc_body, 1, 2);       // one extent
  Put(iloc_body, offset, 4);
  Put(iloc_body, length, 4);
  const TBytes meta = Box("meta", Cat({TBytes{0, 0, 0, 0}, iinf, Box("iloc", iloc_body), Box("idat", data)}));
  const TBytes ftyp = Box("ftyp", TBytes{'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1'});
  return Cat({ftyp, meta});
}

TEST(HeifCanvasTest, CanvasesAreHeldToThePixelCap) {
  const struct {
    const char* name;
    TBytes file;
    THeifCanvasCheck want;
  } cases[] = {
      {"grid within the cap", File("grid", Canvas(false, 4032, 3024, false), 0, 8), THeifCanvasCheck::kWithinCap},
      {"wide panorama grid", File("grid", Canvas(false, 16000, 3000, false), 0, 8), THeifCanvasCheck::kWithinCap},
      {"grid of 65535 x 65535", File("grid", Canvas(false, 65535, 65535, false), 0, 8), THeifCanvasCheck::kOverCap},
      {"grid with 32-bit fields", File("grid", Canvas(false, 100000, 20000, true), 0, 12),
       THeifCanvasCheck::kOverCap},
      {"overlay over the cap", File("iovl", Canvas(true, 20000, 20000, false), 0, 14), THeifCanvasCheck::kOverCap},
      {"overlay within the cap", File("iovl", Canvas(true, 2000, 2000, false), 0, 14), THeifCanvasCheck::kWithinCap},
      {"grid data past its idat", File("grid", Canvas(false, 64, 64, false), 7, 8), THeifCanvasCheck::kUnreadable},
      {"grid data cut short", File("grid", TBytes{0, 0, 0, 0, 0x20}, 0, 5), THeifCanvasCheck::kUnreadable},
      {"a coded image only", File("hvc1", TBytes{}, 0, 0), THeifCanvasCheck::kWithinCap},
      {"a box longer than the file", Cat({Box("ftyp", TBytes{'h', 'e', 'i', 'c'}), TBytes{0, 0, 1, 0, 'm', 'e'}}),
       THeifCanvasCheck::kUnreadable},
      {"no meta box", Box("ftyp", TBytes{'h', 'e', 'i', 'c'}), THeifCanvasCheck::kWithinCap},
      // libheif reads the first meta box: a harmless one after it hides nothing.
      {"a second meta box after the first",
       Cat({File("grid", Canvas(false, 65535, 65535, false), 0, 8),
            Box("meta", TBytes{0, 0, 0, 0})}),
       THeifCanvasCheck::kOverCap},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckHeifCanvases(c.file.data(), c.file.size(), 16), c.want);
  }
}

}  // namespace
