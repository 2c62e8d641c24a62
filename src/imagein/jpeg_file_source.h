#pragma once
// libjpeg data source of the JPEG adapter: reads the open stream in blocks of
// 16384 bytes, recognises a sealed file on the first block and deciphers it on
// the fly, and answers reads past the end with an EOI marker and a warning.

#include <cstdint>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

inline constexpr size_t kJpegSourceBufferSize = 16384;

// Installs the source on `cinfo` (created once per decoder from its permanent
// pool), in place of jpeg_stdio_src. The stream stays the caller's.
void JpegFileSource(j_decompress_ptr cinfo, FILE* stream);
// The key text for sealed files (may be null).
void SetSourceKey(j_decompress_ptr cinfo, const char* key);
// 1 when the file began with a sealed-file header.
int32_t SourceWasSealed(j_decompress_ptr cinfo);
