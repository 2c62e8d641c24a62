// libFuzzer target: the argument parse of "vellumcast-cli index" (options,
// settings and configuration files named by them). The input is the argument
// list, arguments separated by NUL bytes. Checks that arguments taken leave
// the worker with values the run can use.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/index_options.h"
#include "engine/catalog_filter.h"
#include "engine/image_order.h"
#include "engine/thread_vellumcast.h"

namespace {

bool IsZeroOrOne(int32_t value) { return value == 0 || value == 1; }

void CheckUsableOptions(const TThreadVellumcast& worker) {
  if (worker.cellwidth < 1 || worker.cellheight < 1 || worker.cellsperrow < 1) std::abort();
  const int32_t flags[] = {worker.sort,         worker.createthumbs,     worker.straightforward,
                           worker.hlinks,       worker.blinks,           worker.centertable,
                           worker.centertitle,  worker.centerfooter,     worker.centernavbar,
                           worker.dirfirstpageonly, worker.includefilenames, worker.followlinks,
                           worker.rebuild,      worker.prune,            worker.style,
                           worker.skiphidden};
  for (const int32_t flag : flags) {
    if (!IsZeroOrOne(flag)) std::abort();
  }
  if (worker.thumbwhite != 0 && worker.thumbwhite != 255) std::abort();
  if (worker.formats != kFormatsClassic && worker.formats != kFormatsAll) std::abort();
  if (worker.order != kOrderName && worker.order != kOrderNatural && worker.order != kOrderDate) std::abort();
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

  TThreadVellumcast worker;
  const TIndexRequest request = PrepareIndexRun(static_cast<int>(arguments.size()), argv.data(), worker);
  if (request.exit_code < 0 && !request.show_help && !request.show_version) CheckUsableOptions(worker);
  if (request.exit_code >= 0 && request.exit_code != 2) std::abort();
  return 0;
}
