#include "imagein/heif_canvas.h"

#include <vector>

#include "imagein/whole_image_source.h"

namespace {

constexpr uint32_t FourCc(const char (&text)[5]) {
  return (uint32_t{static_cast<uint8_t>(text[0])} << 24) | (uint32_t{static_cast<uint8_t>(text[1])} << 16) |
         (uint32_t{static_cast<uint8_t>(text[2])} << 8) | uint32_t{static_cast<uint8_t>(text[3])};
}

// Big-endian fields of a byte span; a read past the end sets `ok` false and
// gives 0.
struct TFieldReader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool ok = true;

  uint64_t Read(size_t bytes) {
    if (!ok || bytes > size - at) {
      ok = false;
      return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value = (value << 8) | data[at + i];
    at += bytes;
    return value;
  }
  void Skip(size_t bytes) {
    if (!ok || bytes > size - at) {
      ok = false;
      return;
    }
    at += bytes;
  }
};

struct TBox {
  uint32_t type = 0;
  const uint8_t* body = nullptr;
  size_t size = 0;
};

// The boxes of a span, one after another; false at the end or on a box that
// does not fit (`reader.ok` tells which).
bool NextBox(TFieldReader& reader, TBox* box) {
  if (!reader.ok || reader.at == reader.size) return false;
  const size_t start = reader.at;
  uint64_t length = reader.Read(4);
  box->type = static_cast<uint32_t>(reader.Read(4));
  if (length == 1) length = reader.Read(8);
  if (length == 0) length = reader.size - start;  // to the end
  const size_t header = reader.at - start;
  if (!reader.ok || length < header || length > reader.size - start) {
    reader.ok = false;
    return false;
  }
  box->body = reader.data + reader.at;
  box->size = static_cast<size_t>(length) - header;
  reader.at = start + static_cast<size_t>(length);
  return true;
}

struct TItemPlace {
  uint32_t id = 0;
  int method = 0;       // 0: offset in the file, 1: offset in the idat box
  uint64_t offset = 0;  // base offset plus the first extent's offset
  uint64_t length = 0;  // the first extent's length (0: to the end)
};

struct TDerivedItem {
  uint32_t id = 0;
  bool overlay = false;  // "iovl"; otherwise "grid"
};

bool ReadItemTypes(const TBox& iinf, std::vector<TDerivedItem>* derived) {
  TFieldReader reader{iinf.body, iinf.size};
  const uint64_t version = reader.Read(1);
  reader.Skip(3);
  reader.Skip(version == 0 ? 2 : 4);
  TBox infe;
  while (NextBox(reader, &infe)) {
    if (infe.type != FourCc("infe")) continue;
    TFieldReader entry{infe.body, infe.size};
    const uint64_t entry_version = entry.Read(1);
    entry.Skip(3);
    if (entry_version < 2) continue;  // no item type before version 2
    const auto id = static_cast<uint32_t>(entry.Read(entry_version == 2 ? 2 : 4));
    entry.Skip(2);
    const auto type = static_cast<uint32_t>(entry.Read(4));
    if (!entry.ok) return false;
    if (type == FourCc("grid") || type == FourCc("iovl")) derived->push_back({id, type == FourCc("iovl")});
  }
  return reader.ok;
}

bool ReadItemPlaces(const TBox& iloc, std::vector<TItemPlace>* places) {
  TFieldReader reader{iloc.body, iloc.size};
  const uint64_t version = reader.Read(1);
  reader.Skip(3);
  if (version > 2) return false;
  const uint64_t sizes = reader.Read(1);
  const uint64_t more_sizes = reader.Read(1);
  const size_t offset_size = static_cast<size_t>(sizes >> 4);
  const size_t length_size = static_cast<size_t>(sizes & 15);
  const size_t base_offset_size = static_cast<size_t>(more_sizes >> 4);
  const size_t index_size = version >= 1 ? static_cast<size_t>(more_sizes & 15) : 0;
  for (size_t field : {offset_size, length_size, base_offset_size, index_size}) {
    if (field != 0 && field != 4 && field != 8) return false;
  }
  const uint64_t count = reader.Read(version < 2 ? 2 : 4);
  for (uint64_t i = 0; i < count && reader.ok; ++i) {
    TItemPlace place;
    place.id = static_cast<uint32_t>(reader.Read(version < 2 ? 2 : 4));
    if (version >= 1) place.method = static_cast<int>(reader.Read(2) & 15);
    reader.Skip(2);  // data reference index
    place.offset = reader.Read(base_offset_size);
    const uint64_t extents = reader.Read(2);
    for (uint64_t e = 0; e < extents && reader.ok; ++e) {
      reader.Skip(index_size);
      const uint64_t offset = reader.Read(offset_size);
      const uint64_t length = reader.Read(length_size);
      if (e == 0) {
        place.offset += offset;
        place.length = length;
      }
    }
    places->push_back(place);
  }
  return reader.ok;
}

// The canvas size at the start of a grid's or overlay's data.
bool ReadCanvas(const uint8_t* data, size_t size, bool overlay, uint64_t* width, uint64_t* height) {
  TFieldReader reader{data, size};
  reader.Skip(1);  // version
  const uint64_t flags = reader.Read(1);
  const size_t field = (flags & 1) != 0 ? 4 : 2;
  reader.Skip(overlay ? 8 : 2);  // fill colour, or rows and columns less one
  *width = reader.Read(field);
  *height = reader.Read(field);
  return reader.ok;
}

}  // namespace

THeifCanvasCheck CheckHeifCanvases(const uint8_t* data, size_t size, uint64_t bytes_per_pixel) {
  // Where a box comes more than once, libheif reads the first; every item
  // place is looked at, whichever entry libheif may take.
  TFieldReader file{data, size};
  TBox box;
  TBox meta;
  while (NextBox(file, &box)) {
    if (box.type == FourCc("meta") && meta.body == nullptr) meta = box;
  }
  if (!file.ok) return THeifCanvasCheck::kUnreadable;
  if (meta.body == nullptr || meta.size < 4) return THeifCanvasCheck::kWithinCap;  // no items at all
  TFieldReader children{meta.body + 4, meta.size - 4};
  std::vector<TDerivedItem> derived;
  std::vector<TItemPlace> places;
  TBox idat;
  bool readable = true;
  while (NextBox(children, &box)) {
    if (box.type == FourCc("iinf")) readable = ReadItemTypes(box, &derived) && readable;
    if (box.type == FourCc("iloc")) readable = ReadItemPlaces(box, &places) && readable;
    if (box.type == FourCc("idat") && idat.body == nullptr) idat = box;
  }
  if (!children.ok || !readable) return THeifCanvasCheck::kUnreadable;
  for (const TDerivedItem& item : derived) {
    bool placed = false;
    for (const TItemPlace& place : places) {
      if (place.id != item.id) continue;
      placed = true;
      const uint8_t* base = place.method == 0 ? data : place.method == 1 ? idat.body : nullptr;
      const size_t span = place.method == 0 ? size : idat.size;
      if (base == nullptr || place.offset > span) return THeifCanvasCheck::kUnreadable;
      size_t available = span - static_cast<size_t>(place.offset);
      if (place.length != 0 && place.length < available) available = static_cast<size_t>(place.length);
      uint64_t width = 0;
      uint64_t height = 0;
      if (!ReadCanvas(base + place.offset, available, item.overlay, &width, &height)) {
        return THeifCanvasCheck::kUnreadable;
      }
      if (!PixelsWithinCap(width, height, bytes_per_pixel)) return THeifCanvasCheck::kOverCap;
    }
    if (!placed) return THeifCanvasCheck::kUnreadable;
  }
  return THeifCanvasCheck::kWithinCap;
}
