#include "imagein/seal.h"

#include <cstring>

#include "support/hash.h"

namespace {

constexpr int kKeyStreamSize = 256;
constexpr int kKeyMaterialSize = 384;
constexpr int kRotations = 7;  // the rotation runs 0, 1, ..., 6 and starts again

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool StartsWithSignature(const uint8_t* buffer, const char* signature) {
  // Six signature bytes and the terminating zero byte after them.
  return std::memcmp(buffer, signature, 6) == 0 && buffer[6] == 0;
}

bool HasKey(const char* key) { return key != nullptr && key[0] != '\0'; }

// Length of the cipher's key text. A file key lives in the key material and
// ends at its first zero byte, or at the end of the material when it has none.
size_t KeyTextLength(const TSealCipher* cipher) {
  if (cipher->key_text == cipher->key_material)
    return strnlen(cipher->key_material, kKeyMaterialSize);
  return std::strlen(cipher->key_text);
}

uint8_t RotateLeft8(uint8_t b, int r) {
  return static_cast<uint8_t>((b << r) | (b >> (8 - r)));
}

// Two bytes per step: the low and second byte of the hash table entry of the
// key byte rotated left by r bits. r advances each time the key text wraps.
void BuildKeyStream(TSealCipher* cipher) {
  const size_t length = cipher->key_text == nullptr ? 0 : KeyTextLength(cipher);
  cipher->stream_cursor = 0;
  cipher->built = true;
  if (length == 0) {
    // Never reached through SealDetect, which refuses empty keys; an empty
    // stream leaves bytes unchanged rather than reading past the text.
    std::memset(cipher->key_stream, 0, sizeof(cipher->key_stream));
    return;
  }
  const uint8_t* key = reinterpret_cast<const uint8_t*>(cipher->key_text);
  size_t p = 0;
  int r = 0;
  for (int i = 0; i < kKeyStreamSize / 2; ++i) {
    const uint32_t entry = HashTableEntry(RotateLeft8(key[p], r));
    cipher->key_stream[2 * i] = static_cast<uint8_t>(entry & 0xFF);
    cipher->key_stream[2 * i + 1] = static_cast<uint8_t>((entry >> 8) & 0xFF);
    if (++p == length) {
      p = 0;
      r = (r + 1) % kRotations;
    }
  }
}

int32_t DetectKeyText(TSealCipher* cipher, const char* key, const uint8_t* buffer,
                      int32_t length) {
  if (!HasKey(key)) return kSealRejected;
  if (length < kSealKeyTextHeaderSize) return kSealNotSealed;
  SealCipherInit(cipher, key);
  if (KeySum(key) != ReadLe32(buffer + 8)) return kSealRejected;
  return kSealKeyTextHeaderSize;
}

int32_t DetectFileKey(TSealCipher* cipher, const char* key, const uint8_t* buffer,
                      int32_t length) {
  if (!HasKey(key)) return kSealRejected;
  if (length < kSealFileKeyFixedSize) return kSealNotSealed;
  const uint64_t available = static_cast<uint64_t>(length);
  const uint32_t l1 = ReadLe32(buffer + 16);
  if (l1 > kSealBlock1Max || uint64_t{l1} + kSealFileKeyFixedSize > available)
    return kSealNotSealed;
  const uint32_t l2 = ReadLe32(buffer + 20 + l1);
  if (l2 > kSealBlock2Max || uint64_t{l1} + l2 + kSealFileKeyFixedSize > available)
    return kSealNotSealed;
  const uint32_t l3 = ReadLe32(buffer + 24 + l1 + l2);
  // The skipped block must lie within the bytes at hand too; a header that
  // reaches past them is taken for plain data.
  const uint64_t header_size = uint64_t{kSealFileKeyFixedSize} + l1 + l2 + l3;
  if (header_size > available) return kSealNotSealed;

  // Block 1 deciphered is the file key text; block 2 follows it in the key
  // material, so a file key without a zero byte runs on into block 2.
  std::memset(cipher->key_material, 0, sizeof(cipher->key_material));
  uint8_t area[kSealBlock1Max] = {};
  std::memcpy(area, buffer + 20, l1);
  SealDecodeBlock(area, static_cast<int32_t>(kSealBlock1Max), key);
  std::memcpy(cipher->key_material, area, kSealBlock1Max);
  if (l2 > 0) {
    uint8_t block2[kSealBlock2Max];
    std::memcpy(block2, buffer + 24 + l1, l2);
    SealDecodeBlock(block2, static_cast<int32_t>(l2), kSealBlock2Key);
    std::memcpy(cipher->key_material + kSealBlock1Max, block2, l2);
  }
  cipher->key_text = cipher->key_material;
  cipher->built = false;
  cipher->stream_cursor = 0;

  if (KeySum(key) != ReadLe32(buffer + 8)) return kSealRejected;
  // A file key that deciphers to an empty text cannot make a key stream.
  if (cipher->key_material[0] == '\0') return kSealRejected;
  return static_cast<int32_t>(header_size);
}

}  // namespace

uint8_t KeySum(const char* text) {
  uint32_t sum = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p)
    sum += *p;
  return static_cast<uint8_t>(sum & 0xFF);
}

void SealCipherInit(TSealCipher* cipher, const char* key_text) {
  cipher->key_text = key_text;
  cipher->stream_cursor = 0;
  cipher->built = false;
}

int32_t SealDetect(TSealCipher* cipher, const char* key, const uint8_t* buffer, int32_t length) {
  if (buffer == nullptr || length < 8) return kSealNotSealed;
  if (StartsWithSignature(buffer, "QZENC\n")) return DetectKeyText(cipher, key, buffer, length);
  if (StartsWithSignature(buffer, "QZEN1\n")) return DetectFileKey(cipher, key, buffer, length);
  return kSealNotSealed;
}

void SealDecode(TSealCipher* cipher, uint8_t* bytes, int32_t length) {
  if (!cipher->built) BuildKeyStream(cipher);
  uint32_t cursor = cipher->stream_cursor;
  for (int32_t i = 0; i < length; ++i) {
    bytes[i] ^= cipher->key_stream[cursor];
    cursor = (cursor + 1) % kKeyStreamSize;
  }
  cipher->stream_cursor = cursor;
}

void SealDecodeBlock(uint8_t* bytes, int32_t length, const char* key_text) {
  TSealCipher cipher;
  SealCipherInit(&cipher, key_text);
  SealDecode(&cipher, bytes, length);
}
