// libFuzzer target: the argument parse of "vellumcast-cli index" (options,
// settings and configuration files named by them). The input is the argument
// list, arguments separated by NUL bytes. Checks that arguments taken leave
// options with values the run can use.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/index_options.h"
#include "engine/run/catalog_filter.h"
#include "engine/run/image_order.h"
#include "engine/run/thread_vellumcast.h"

namespace {

bool IsZeroOrOne(int32_t value) { return value == 0 || value == 1; }

void CheckUsableOptions(const TIndexOptions& options) {
  if (options.cellwidth < 1 || options.cellheight < 1 || options.cellsperrow < 1) std::abort();
  const int32_t flags[] = {options.sort,         options.createthumbs,     options.straightforward,
                           options.hlinks,       options.blinks,           options.centertable,
                           options.centertitle,  options.centerfooter,     options.centernavbar,
                           options.dirfirstpageonly, options.includefilenames, options.followlinks,
                           options.rebuild,      options.prune,            options.style,
                           options.skiphidden};
  for (const int32_t flag : flags) {
    if (!IsZeroOrOne(flag)) std::abort();
  }
  if (options.thumbwhite != 0 && options.thumbwhite != 255) std::abort();
  if (options.formats != kFormatsClassic && options.formats != kFormatsAll) std::abort();
  if (options.order != kOrderName && options.order != kOrderNatural && options.order != kOrderDate) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // --help prints the usage on standard output: keep it out of the log.
  const int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) {
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back() += static_cast<char>(data[i]);
    }
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  TIndexOptions options;
  const TIndexRequest request = PrepareIndexRun(static_cast<int>(arguments.size()), argv.data(), options);
  if (request.exit_code < 0 && !request.show_help && !request.show_version) CheckUsableOptions(options);
  if (request.exit_code >= 0 && request.exit_code != 2) std::abort();
  return 0;
}
