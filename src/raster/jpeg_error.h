#pragma once
// The error manager shared by every decoder and the JPEG writer: it counts
// warnings and fatal errors and never ends the program. A fatal error jumps to
// `recovery` when one is armed, and otherwise returns to whoever raised it.

#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

struct TJpegErrorManager {
  jpeg_error_mgr pub;        // first, so libjpeg's err pointer is this record
  int32_t num_errors = 0;    // fatal errors
  jmp_buf* recovery = nullptr;
};

// Stands where jpeg_std_error would; returns &manager->pub.
jpeg_error_mgr* JpegErrorInit(TJpegErrorManager* manager);

// Formats the message of `cinfo`'s error manager: "Jpeg Error (<image_name>): ..."
// with the name taken from cinfo->client_data (a const char*), or
// "Jpeg Error (unnamed image): " when there is none.
void JpegFormatMessage(j_common_ptr cinfo, char* buffer);
