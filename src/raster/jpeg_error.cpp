#include "raster/jpeg_error.h"

#include <cstdio>

namespace {

// The one entry of the message table. The formatted messages never use it (the
// text lookup holds no texts), but libjpeg expects a table to be present.
const char* const kMessageTable[] = {"JPEG error message code %d", nullptr};

// The buffer output_message formats into.
constexpr size_t kOutputBufferSize = 1280;

TJpegErrorManager* ManagerOf(j_common_ptr cinfo) {
  // `pub` is the first member, so libjpeg's err pointer is the manager itself.
  return reinterpret_cast<TJpegErrorManager*>(cinfo->err);
}

// Formatted messages go to a sink that discards them: no message of a decoder
// ever reaches the user.
void DiscardDiagnostic(const char* /*message*/) {}

void OutputMessage(j_common_ptr cinfo) {
  char buffer[kOutputBufferSize];
  cinfo->err->format_message(cinfo, buffer);
  DiscardDiagnostic(buffer);
}

// Counts the fatal error (as an error and as a warning), then jumps to the
// armed recovery point; without one it returns to whoever raised the error.
void ErrorExit(j_common_ptr cinfo) {
  TJpegErrorManager* manager = ManagerOf(cinfo);
  manager->pub.output_message(cinfo);
  manager->pub.num_warnings++;
  manager->num_errors++;
  if (manager->recovery != nullptr) std::longjmp(*manager->recovery, 1);
}

void EmitMessage(j_common_ptr cinfo, int msg_level) {
  jpeg_error_mgr* err = cinfo->err;
  if (msg_level <= 0) {
    // A warning: the first one is output, later ones only when tracing.
    if (err->num_warnings == 0 || err->trace_level >= 3) err->output_message(cinfo);
    err->num_warnings++;
    return;
  }
  if (msg_level <= err->trace_level) err->output_message(cinfo);
}

void FormatMessage(j_common_ptr cinfo, char* buffer) { JpegFormatMessage(cinfo, buffer); }

void ResetErrorManager(j_common_ptr cinfo) {
  TJpegErrorManager* manager = ManagerOf(cinfo);
  manager->num_errors = 0;
  manager->pub.num_warnings = 0;
  manager->pub.msg_code = 0;
}

}  // namespace

jpeg_error_mgr* JpegErrorInit(TJpegErrorManager* manager) {
  jpeg_error_mgr& pub = manager->pub;
  pub = jpeg_error_mgr{};
  pub.error_exit = ErrorExit;
  pub.emit_message = EmitMessage;
  pub.output_message = OutputMessage;
  pub.format_message = FormatMessage;
  pub.reset_error_mgr = ResetErrorManager;
  pub.trace_level = 0;
  pub.num_warnings = 0;
  pub.msg_code = 0;
  pub.jpeg_message_table = kMessageTable;
  pub.last_jpeg_message = 0;
  pub.addon_message_table = nullptr;
  pub.first_addon_message = 0;
  pub.last_addon_message = 0;
  manager->num_errors = 0;
  manager->recovery = nullptr;
  return &pub;
}

// The message is the prefix naming the image; the system's text lookup holds
// no message texts, so nothing follows it. The buffer is libjpeg's
// format_message buffer of JMSG_LENGTH_MAX bytes: a long image name is cut to
// fit, never written past it.
void JpegFormatMessage(j_common_ptr cinfo, char* buffer) {
  const char* name = static_cast<const char*>(cinfo->client_data);
  if (name == nullptr) name = "unnamed image";
  std::snprintf(buffer, JMSG_LENGTH_MAX, "Jpeg Error (%s): ", name);
}
