// Runs a fuzz target's entry point once on every file named on the command
// line, and on every file inside every folder named, without libFuzzer. The
// ordinary and the sanitizer builds run the committed seeds and regression
// inputs through it, so that an input that once crashed a target stays
// checked on every build. Exits non-zero when a path cannot be read; a fault
// in the target ends the program (crash, sanitizer report) on that input,
// whose name is printed first.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Defined by the targets that prepare their process once.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The files a path stands for, a folder's in name order; false when the path
// is neither a readable file nor a readable folder.
bool CollectInputs(const fs::path& path, std::vector<fs::path>* inputs) {
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    inputs->push_back(path);
    return true;
  }
  if (!fs::is_directory(path, error)) return false;
  std::vector<fs::path> found;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) found.push_back(it->path());
  }
  if (error) return false;
  std::sort(found.begin(), found.end());
  inputs->insert(inputs->end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!CollectInputs(argv[i], &inputs)) {
      std::fprintf(stderr, "%s: cannot read '%s'\n", argv[0], argv[i]);
      return 1;
    }
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<uint8_t> bytes;
  for (const fs::path& input : inputs) {
    if (!ReadWholeFile(input, &bytes)) {
      std::fprintf(stderr, "%s: cannot read '%s'\n", argv[0], input.c_str());
      return 1;
    }
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.c_str(), bytes.size());
    // A copy of exactly the input's size, so that a read past its end shows
    // under AddressSanitizer as it does under libFuzzer.
    std::vector<uint8_t> exact(bytes);
    static const uint8_t kNoByte = 0;  // libFuzzer hands a valid pointer for an empty input too
    LLVMFuzzerTestOneInput(exact.empty() ? &kNoByte : exact.data(), exact.size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
  return 0;
}
