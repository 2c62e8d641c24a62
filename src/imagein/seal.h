#pragma once
// The sealed-file cipher: recognition of the two sealed-file headers ("QZENC\n"
// with a key text, "QZEN1\n" with a file key), and the XOR key stream drawn
// from the string hash's table. Enciphering is the same XOR as deciphering.

#include <cstdint>

#include "imagein/image_source.h"  // TSealCipher

// Results of SealDetect besides a header length.
inline constexpr int32_t kSealNotSealed = -1;
inline constexpr int32_t kSealRejected = -2;

// Length of the key-text header; the image data follows it.
inline constexpr int32_t kSealKeyTextHeaderSize = 40;
// Fixed part of the file-key header: signature, key check, checksum, L1, L2, L3.
inline constexpr int32_t kSealFileKeyFixedSize = 28;
inline constexpr uint32_t kSealBlock1Max = 128;
inline constexpr uint32_t kSealBlock2Max = 256;
// Block 2 of a file-key header is enciphered with this key text.
inline constexpr const char* kSealBlock2Key = "quorn";

// Looks at the first `length` bytes of a file. Returns the offset of the image
// data of a sealed file whose key check the key text passes, kSealNotSealed
// when the bytes are no sealed file (or its header does not fit them), or
// kSealRejected when the file is sealed and the key text is missing, empty or
// wrong. On success the cipher is ready to decipher the image data.
int32_t SealDetect(TSealCipher* cipher, const char* key, const uint8_t* buffer, int32_t length);

// Deciphers (or enciphers) bytes in place. The key-stream position carries
// over from call to call, so a file deciphers the same however it is split.
void SealDecode(TSealCipher* cipher, uint8_t* bytes, int32_t length);

// Deciphers bytes in place with a fresh cipher made from the key text.
void SealDecodeBlock(uint8_t* bytes, int32_t length, const char* key_text);

// The sum of the text's bytes, modulo 256.
uint8_t KeySum(const char* text);

// Makes `cipher` a fresh one for `key_text` (key stream built on first use).
void SealCipherInit(TSealCipher* cipher, const char* key_text);
