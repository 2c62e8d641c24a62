// The GIF reader: signature, logical screen, colour tables and extension
// blocks up to the first image, then that image's LZW data, delivered row by
// row (or, for an interlaced image, decoded whole and handed out in display
// order). Only the first image of a file is read.

#include <cstdlib>
#include <cstring>
#include <new>

#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "raster/membitmap.h"

namespace {

// Message codes this reader raises.
constexpr int kGifBadCodeSize = 213;    // error: LZW minimum code size outside 2..11
constexpr int kGifNoImage = 215;        // error: trailer before any image
constexpr int kGifNotGif = 216;         // error: no "GIF" signature
constexpr int kGifImageTrace = 217;     // trace: image found
constexpr int kGifVersionTrace = 218;   // trace: version neither 87a nor 89a
constexpr int kGifExtensionTrace = 219; // trace: extension block
constexpr int kGifAspectTrace = 220;    // trace: unusual aspect byte
constexpr int kGifBadLzw = 221;         // warning: code out of range
constexpr int kGifStrayByte = 222;      // warning: unknown byte between blocks
constexpr int kGifEarlyEnd = 223;       // warning: end code before the image is complete
constexpr int kGifOutOfBlocks = 224;    // warning: image data ran out of sub-blocks

constexpr int kLzwTableSize = 4096;
constexpr int kLzwMaxBits = 12;
constexpr int kMinCodeSizeLow = 2;
constexpr int kMinCodeSizeHigh = 11;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kTransparentFlag = 0x01;
constexpr uint8_t kColorTableFlag = 0x80;
constexpr uint8_t kInterlaceFlag = 0x40;

struct TGifSource : TImageSource {
  // Colour map of the table that applies to the image; the entries the file
  // does not give stay black, so every index maps to a defined colour.
  uint8_t colormap[3][256] = {};

  // Code fetch: bytes 0 and 1 keep the last two bytes of the previous
  // sub-block, a sub-block of up to 255 bytes follows from byte 2.
  uint8_t code_buffer[260] = {};
  int last_byte = 2;
  int last_bit = 0;
  int current_bit = 0;
  bool out_of_blocks = false;

  // LZW state.
  int input_code_size = 0;
  int clear_code = 0;
  int end_code = 0;
  int code_size = 0;
  int limit_code = 0;
  int max_code = 0;  // next free code
  int old_code = 0;
  int first_code = 0;
  bool first_time = true;
  // Symbols are literal codes: up to 2047 with a minimum code size of 11,
  // which no colour table reaches (such pixels are black).
  uint16_t prefix[kLzwTableSize] = {};
  uint16_t suffix[kLzwTableSize] = {};
  uint16_t stack[kLzwTableSize] = {};
  int stack_top = 0;

  // Interlaced images: the whole image of colour indices, then display order.
  // Indices take two bytes when the minimum code size allows literals above 255.
  bool interlaced = false;
  bool wide_indices = false;
  uint8_t* whole_image = nullptr;
  uint32_t next_row = 0;
  uint32_t pass2_offset = 0;
  uint32_t pass3_offset = 0;
  uint32_t pass4_offset = 0;

  int32_t transparent_index = -1;
};

TGifSource* AsGif(TImageSource* source) { return static_cast<TGifSource*>(source); }

// A trace only sets the message code (and its parameters); it counts nothing.
void RaiseTrace(TReaderContext* context, int code, int p0 = 0, int p1 = 0, int p2 = 0) {
  jpeg_error_mgr* err = context->common.err;
  if (err == nullptr) return;
  err->msg_code = code;
  err->msg_parm.i[0] = p0;
  err->msg_parm.i[1] = p1;
  err->msg_parm.i[2] = p2;
  if (err->emit_message != nullptr) err->emit_message(&context->common, 1);
}

long WarningCount(const TReaderContext* context) {
  return context->common.err != nullptr ? context->common.err->num_warnings : 0;
}

// Reads one data sub-block into `buffer` (at least 255 bytes). Returns its
// byte count, 0 for the block terminator or a failed read, -1 at the end of
// the file.
int ReadSubBlock(TReaderContext* context, TGifSource* gif, uint8_t* buffer) {
  const int count = SourceReadByte(context, gif);
  if (count <= 0) return count;
  if (!SourceReadBytes(context, gif, buffer, static_cast<uint32_t>(count))) {
    ReaderRaiseError(context, kLoadPrematureEnd);
    return 0;
  }
  return count;
}

void SkipSubBlocks(TReaderContext* context, TGifSource* gif) {
  uint8_t buffer[256];
  while (ReadSubBlock(context, gif, buffer) > 0) {
  }
}

// Reads `entries` red-green-blue triples as the colour map that applies from
// now on; the entries beyond them become black.
bool ReadColorTable(TReaderContext* context, TGifSource* gif, int entries) {
  uint8_t table[256 * 3];
  if (!SourceReadBytes(context, gif, table, static_cast<uint32_t>(entries * 3))) {
    ReaderRaiseError(context, kLoadPrematureEnd);
    return false;
  }
  std::memset(gif->colormap, 0, sizeof gif->colormap);
  for (int i = 0; i < entries; ++i) {
    gif->colormap[0][i] = table[3 * i];
    gif->colormap[1][i] = table[3 * i + 1];
    gif->colormap[2][i] = table[3 * i + 2];
  }
  return true;
}

int ColorTableEntries(uint8_t packed) { return 2 << (packed & 7); }

// An extension block after its "!" introducer. Only the graphic control
// extension is looked at: its transparent index, when it gives one.
bool ReadExtension(TReaderContext* context, TGifSource* gif) {
  const int label = SourceReadByte(context, gif);
  if (label < 0) {
    ReaderRaiseError(context, kLoadPrematureEnd);
    return false;
  }
  RaiseTrace(context, kGifExtensionTrace, label);
  if (label != kGraphicControlLabel) {
    SkipSubBlocks(context, gif);
    return true;
  }
  uint8_t block[256];
  const int count = ReadSubBlock(context, gif, block);
  // The index is byte 3; a block too short to hold it gives none.
  if (count >= 4 && (block[0] & kTransparentFlag) != 0) gif->transparent_index = block[3];
  // A first sub-block of 0 was already the terminator.
  if (count > 0) SkipSubBlocks(context, gif);
  return true;
}

void ResetLzw(TGifSource* gif) {
  gif->code_size = gif->input_code_size + 1;
  gif->limit_code = 2 * gif->clear_code;
  gif->max_code = gif->clear_code + 2;
  gif->stack_top = 0;
}

void InitLzw(TGifSource* gif, int min_code_size) {
  gif->input_code_size = min_code_size;
  gif->clear_code = 1 << min_code_size;
  gif->end_code = gif->clear_code + 1;
  gif->first_time = true;
  gif->out_of_blocks = false;
  gif->last_byte = 2;
  gif->last_bit = 0;
  gif->current_bit = 0;
  ResetLzw(gif);
}

// One code of the current size, least significant bit first, reading further
// sub-blocks until enough bits are there. After the data has run out every
// code is the end code.
int FetchCode(TReaderContext* context, TGifSource* gif) {
  while (gif->current_bit + gif->code_size > gif->last_bit) {
    if (gif->out_of_blocks) {
      ReaderRaiseWarning(context, kGifOutOfBlocks);
      return gif->end_code;
    }
    gif->code_buffer[0] = gif->code_buffer[gif->last_byte - 2];
    gif->code_buffer[1] = gif->code_buffer[gif->last_byte - 1];
    const int count = ReadSubBlock(context, gif, gif->code_buffer + 2);
    if (count <= 0) {
      gif->out_of_blocks = true;
      ReaderRaiseWarning(context, kGifOutOfBlocks);
      return gif->end_code;
    }
    gif->current_bit = gif->current_bit - gif->last_bit + 16;
    gif->last_byte = count + 2;
    gif->last_bit = 8 * gif->last_byte;
  }
  // current_bit + code_size <= last_bit keeps these three bytes inside the buffer.
  const int offset = gif->current_bit >> 3;
  const uint32_t bits = static_cast<uint32_t>(gif->code_buffer[offset]) |
                        static_cast<uint32_t>(gif->code_buffer[offset + 1]) << 8 |
                        static_cast<uint32_t>(gif->code_buffer[offset + 2]) << 16;
  const int code = static_cast<int>((bits >> (gif->current_bit & 7)) & ((1u << gif->code_size) - 1));
  gif->current_bit += gif->code_size;
  return code;
}

void PushSymbol(TGifSource* gif, int symbol) {
  // Every prefix chain is shorter than the table, so the stack cannot fill;
  // the check only keeps a broken invariant from writing past it.
  if (gif->stack_top < kLzwTableSize) gif->stack[gif->stack_top++] = static_cast<uint16_t>(symbol);
}

// After a clear code: the first code that is not a clear code, which must be a
// literal.
int ReadAfterClear(TReaderContext* context, TGifSource* gif) {
  ResetLzw(gif);
  int code = FetchCode(context, gif);
  while (code == gif->clear_code) code = FetchCode(context, gif);
  if (code > gif->clear_code) {
    ReaderRaiseWarning(context, kGifBadLzw);
    code = 0;
  }
  gif->old_code = code;
  gif->first_code = code;
  return code;
}

int NextPixelIndex(TReaderContext* context, TGifSource* gif) {
  if (gif->first_time) {
    gif->first_time = false;
    return ReadAfterClear(context, gif);
  }
  if (gif->stack_top > 0) return gif->stack[--gif->stack_top];

  int code = FetchCode(context, gif);
  if (code == gif->clear_code) return ReadAfterClear(context, gif);
  if (code == gif->end_code) {
    if (!gif->out_of_blocks) {
      SkipSubBlocks(context, gif);
      gif->out_of_blocks = true;
    }
    ReaderRaiseWarning(context, kGifEarlyEnd);
    return 0;
  }

  int incoming = code;
  if (code >= gif->max_code) {
    if (code > gif->max_code) {
      ReaderRaiseWarning(context, kGifBadLzw);
      incoming = 0;
    }
    PushSymbol(gif, gif->first_code);
    code = gif->old_code;
  }
  // prefix[k] < k for every defined entry, so the walk ends.
  while (code >= gif->clear_code) {
    PushSymbol(gif, gif->suffix[code]);
    code = gif->prefix[code];
  }
  gif->first_code = code;

  if (gif->max_code < kLzwTableSize) {
    gif->prefix[gif->max_code] = static_cast<uint16_t>(gif->old_code);
    gif->suffix[gif->max_code] = static_cast<uint16_t>(gif->first_code);
    ++gif->max_code;
    if (gif->max_code >= gif->limit_code && gif->code_size < kLzwMaxBits) {
      ++gif->code_size;
      gif->limit_code <<= 1;
    }
  }
  gif->old_code = incoming;
  return gif->first_code;
}

// Colour of a pixel index: the colour map's entry, black beyond the map.
void PutColor(const TGifSource* gif, int index, uint8_t* pixel) {
  if (index > 255) {
    pixel[0] = pixel[1] = pixel[2] = 0;
    return;
  }
  pixel[0] = gif->colormap[0][index];
  pixel[1] = gif->colormap[1][index];
  pixel[2] = gif->colormap[2][index];
}

uint32_t GetRowsSequential(TReaderContext* context, TImageSource* source) {
  TGifSource* gif = AsGif(source);
  if (gif->row_buffer == nullptr || gif->next_row >= context->image_height) return 0;
  uint8_t* row = gif->row_buffer;
  for (uint32_t x = 0; x < context->image_width; ++x) PutColor(gif, NextPixelIndex(context, gif), row + 3 * x);
  ++gif->next_row;
  return 1;
}

// Row of the whole image that holds output row r: pass 1 takes every eighth
// row from 0, pass 2 every eighth from 4, pass 3 every fourth from 2, pass 4
// the odd rows.
uint32_t InterlacedStoredRow(const TGifSource* gif, uint32_t r) {
  switch (r % 8) {
    case 0:
      return r / 8;
    case 4:
      return r / 8 + gif->pass2_offset;
    case 2:
    case 6:
      return r / 4 + gif->pass3_offset;
    default:
      return r / 2 + gif->pass4_offset;
  }
}

uint32_t GetRowsInterlacedOut(TReaderContext* context, TImageSource* source) {
  TGifSource* gif = AsGif(source);
  const uint32_t width = context->image_width;
  if (gif->row_buffer == nullptr || gif->next_row >= context->image_height) return 0;
  const size_t first = static_cast<size_t>(InterlacedStoredRow(gif, gif->next_row)) * width;
  uint8_t* row = gif->row_buffer;
  if (gif->wide_indices) {
    const uint16_t* indices = reinterpret_cast<const uint16_t*>(gif->whole_image) + first;
    for (uint32_t x = 0; x < width; ++x) PutColor(gif, indices[x], row + 3 * x);
  } else {
    const uint8_t* indices = gif->whole_image + first;
    for (uint32_t x = 0; x < width; ++x) PutColor(gif, indices[x], row + 3 * x);
  }
  ++gif->next_row;
  return 1;
}

// First call for an interlaced image: decode all rows in file order. Any
// warning spoils the whole image (no row could be placed with certainty), so
// decoding stops there and no row is delivered.
uint32_t GetRowsInterlacedLoad(TReaderContext* context, TImageSource* source) {
  TGifSource* gif = AsGif(source);
  const uint32_t width = context->image_width;
  const uint32_t height = context->image_height;
  if (gif->whole_image == nullptr || gif->row_buffer == nullptr) return 0;
  const long warnings_before = WarningCount(context);
  const size_t pixels = static_cast<size_t>(width) * height;
  uint16_t* wide = reinterpret_cast<uint16_t*>(gif->whole_image);
  for (size_t i = 0; i < pixels; ++i) {
    const int index = NextPixelIndex(context, gif);
    if (gif->wide_indices) {
      wide[i] = static_cast<uint16_t>(index);
    } else {
      gif->whole_image[i] = static_cast<uint8_t>(index);
    }
    if (WarningCount(context) != warnings_before) return 0;
  }
  gif->pass2_offset = (height + 7) / 8;
  gif->pass3_offset = gif->pass2_offset + (height + 3) / 8;
  gif->pass4_offset = gif->pass3_offset + (height + 1) / 4;
  gif->next_row = 0;
  gif->GetRows = GetRowsInterlacedOut;
  return GetRowsInterlacedOut(context, source);
}

// Sizes the image, refusing one whose pixel memory would pass the cap before
// anything is taken, and allocates the row buffer (and the whole-image array
// of an interlaced image).
bool PrepareImage(TReaderContext* context, TGifSource* gif, uint32_t width, uint32_t height) {
  context->image_width = width;
  context->image_height = height;
  context->input_components = 3;
  context->grayscale_input = false;
  context->data_precision = 8;
  if (width == 0 || height == 0) return true;  // the front end refuses an empty image
  const uint64_t pixels = static_cast<uint64_t>(width) * height;
  if (pixels * 3 > kMaxPixelBytes) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return false;
  }
  gif->row_buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(width) * 3));
  if (gif->row_buffer == nullptr) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return false;
  }
  if (gif->interlaced) {
    // Every index is written before any row is handed out, so no clearing.
    const size_t index_bytes = gif->wide_indices ? 2 : 1;
    gif->whole_image = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(pixels) * index_bytes));
    if (gif->whole_image == nullptr) {
      ReaderRaiseError(context, kLoadNoPixelMemory);
      return false;
    }
  }
  return true;
}

void GifStartInput(TReaderContext* context, TImageSource* source) {
  TGifSource* gif = AsGif(source);
  if (!SourceFill(context, source)) return;

  uint8_t signature[6];
  if (!SourceReadBytes(context, source, signature, sizeof signature) ||
      std::memcmp(signature, "GIF", 3) != 0) {
    ReaderRaiseError(context, kGifNotGif);
    return;
  }
  if (std::memcmp(signature + 3, "87a", 3) != 0 && std::memcmp(signature + 3, "89a", 3) != 0) {
    RaiseTrace(context, kGifVersionTrace);
  }

  uint8_t screen[7];
  if (!SourceReadBytes(context, source, screen, sizeof screen)) {
    ReaderRaiseError(context, kLoadPrematureEnd);
    return;
  }
  if (screen[6] != 0 && screen[6] != 49) RaiseTrace(context, kGifAspectTrace, screen[6]);
  if ((screen[4] & kColorTableFlag) != 0 &&
      !ReadColorTable(context, gif, ColorTableEntries(screen[4]))) {
    return;
  }

  for (;;) {
    const int introducer = SourceReadByte(context, source);
    if (introducer == ',') break;
    if (introducer == '!') {
      if (!ReadExtension(context, gif)) return;
      continue;
    }
    if (introducer == ';') {
      ReaderRaiseError(context, kGifNoImage);
      return;
    }
    if (introducer < 0) {
      ReaderRaiseError(context, kLoadPrematureEnd);
      return;
    }
    ReaderRaiseWarning(context, kGifStrayByte);
  }

  uint8_t descriptor[9];
  if (!SourceReadBytes(context, source, descriptor, sizeof descriptor)) {
    ReaderRaiseError(context, kLoadPrematureEnd);
    return;
  }
  const uint32_t width = descriptor[4] | static_cast<uint32_t>(descriptor[5]) << 8;
  const uint32_t height = descriptor[6] | static_cast<uint32_t>(descriptor[7]) << 8;
  gif->interlaced = (descriptor[8] & kInterlaceFlag) != 0;
  int table_entries = 0;
  if ((descriptor[8] & kColorTableFlag) != 0) {
    table_entries = ColorTableEntries(descriptor[8]);
    if (!ReadColorTable(context, gif, table_entries)) return;
  } else if ((screen[4] & kColorTableFlag) != 0) {
    table_entries = ColorTableEntries(screen[4]);
  }

  const int min_code_size = SourceReadByte(context, source);
  if (min_code_size < kMinCodeSizeLow || min_code_size > kMinCodeSizeHigh) {
    ReaderRaiseError(context, kGifBadCodeSize);
    return;
  }
  InitLzw(gif, min_code_size);
  gif->wide_indices = min_code_size > 8;

  if (!PrepareImage(context, gif, width, height)) return;
  gif->next_row = 0;
  gif->GetRows = gif->interlaced ? GetRowsInterlacedLoad : GetRowsSequential;
  RaiseTrace(context, kGifImageTrace, static_cast<int>(width), static_cast<int>(height),
             table_entries);
}

void GifFinishInput(TReaderContext*, TImageSource*) {}

void GifDestroy(TImageSource* source) {
  TGifSource* gif = AsGif(source);
  std::free(gif->whole_image);
  std::free(gif->row_buffer);
  SourceRelease(gif);
  delete gif;
}

uint32_t GifNoRows(TReaderContext*, TImageSource*) { return 0; }

}  // namespace

TImageSource* CreateGifSource(TReaderContext*) {
  TGifSource* gif = new (std::nothrow) TGifSource();
  if (gif == nullptr) return nullptr;
  gif->StartInput = GifStartInput;
  gif->GetRows = GifNoRows;  // until StartInput has found an image
  gif->FinishInput = GifFinishInput;
  gif->Destroy = GifDestroy;
  gif->transparent_index = -1;
  if (!SourceInit(gif)) {
    delete gif;
    return nullptr;
  }
  return gif;
}

bool GifTransparentColor(TImageSource* source, uint8_t* red, uint8_t* green, uint8_t* blue) {
  const TGifSource* gif = AsGif(source);
  if (gif->transparent_index < 0) return false;
  const int index = gif->transparent_index & 0xFF;
  *red = gif->colormap[0][index];
  *green = gif->colormap[1][index];
  *blue = gif->colormap[2][index];
  return true;
}
