#include "support/utf8.h"

namespace {

bool InRange(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

}  // namespace

size_t DecodeUtf8Sequence(const unsigned char* text, size_t length, uint32_t* code_point) {
  const unsigned char lead = text[0];
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  // The allowed range of the second byte narrows for the leads that could
  // otherwise give an overlong form (E0, F0), a surrogate (ED) or a value
  // past U+10FFFF (F4); C0, C1 and F5..FF never lead.
  size_t size = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (InRange(lead, 0xC2, 0xDF)) {
    size = 2;
  } else if (InRange(lead, 0xE0, 0xEF)) {
    size = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (InRange(lead, 0xF0, 0xF4)) {
    size = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (length < size || !InRange(text[1], low, high)) return 0;
  for (size_t i = 2; i < size; ++i) {
    if (!InRange(text[i], 0x80, 0xBF)) return 0;
  }
  uint32_t value = lead & (0xFFu >> (size + 1));
  for (size_t i = 1; i < size; ++i) value = (value << 6) | (text[i] & 0x3Fu);
  *code_point = value;
  return size;
}
