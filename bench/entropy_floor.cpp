// The floor of any thumbnailer that reads every JPEG file whole: entropy
// decoding alone (jpeg_read_coefficients: Huffman decoding into coefficient
// blocks, no inverse DCT, no upsampling, no colour conversion). Reads every
// ".jpg" file below the given folders (thumbnail folders left out) or the
// files given, and prints the time taken. With --discard the coefficients are
// decoded and dropped instead of stored (jpeg_skip_scanlines over all rows
// but the last): the part of a decode no reader of the whole file avoids.
//
//   entropy_floor [--threads=N] [--discard] [--quiet] PATH...
//
// Output: "files=N seconds=S threads=T".

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

namespace {

namespace fs = std::filesystem;

struct TQuietErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void QuietErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TQuietErrorManager*>(cinfo->err)->jump, 1);
}

void QuietOutput(j_common_ptr) {}

// Entropy-decodes one file; false when libjpeg gave up on it. The setjmp
// lives here, with no object that has a destructor in scope.
bool DecodeCoefficients(FILE* file, bool discard) {
  jpeg_decompress_struct cinfo;
  TQuietErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = QuietErrorExit;
  err.pub.output_message = QuietOutput;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  if (discard) {
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_height > 1) jpeg_skip_scanlines(&cinfo, cinfo.output_height - 1);
    jpeg_abort_decompress(&cinfo);
  } else {
    jpeg_read_coefficients(&cinfo);
    jpeg_finish_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  return true;
}

bool IsJpegName(const fs::path& path) {
  std::string ext = path.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".jpg";
}

void Collect(const fs::path& path, std::vector<std::string>* files) {
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    files->push_back(path.string());
    return;
  }
  if (!fs::is_directory(path, error)) return;
  for (auto it = fs::recursive_directory_iterator(path, error); it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (error) break;
    if (it->is_directory() && it->path().filename() == "quarto_tn") {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file() && IsJpegName(it->path())) files->push_back(it->path().string());
  }
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 1;
  bool quiet = false;
  bool discard = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--threads=", 10) == 0) {
      threads = std::atoi(argv[i] + 10);
      if (threads < 1 || threads > 256) {
        std::fprintf(stderr, "entropy_floor: --threads must be 1 to 256\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--quiet") == 0) {
      quiet = true;
    } else if (std::strcmp(argv[i], "--discard") == 0) {
      discard = true;
    } else if (std::strncmp(argv[i], "--", 2) == 0) {
      std::fprintf(stderr, "usage: entropy_floor [--threads=N] [--discard] [--quiet] PATH...\n");
      return 2;
    } else {
      Collect(argv[i], &files);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "entropy_floor: no .jpg files found\n");
    return 1;
  }
  std::atomic<size_t> next{0};
  std::atomic<int> failed{0};
  const auto start = std::chrono::steady_clock::now();
  auto work = [&]() {
    for (size_t i = next++; i < files.size(); i = next++) {
      FILE* file = std::fopen(files[i].c_str(), "rb");
      if (file == nullptr || !DecodeCoefficients(file, discard)) ++failed;
      if (file != nullptr) std::fclose(file);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!quiet && failed > 0) std::fprintf(stderr, "entropy_floor: %d files failed\n", failed.load());
  std::printf("files=%zu seconds=%.3f threads=%d\n", files.size(), seconds, threads);
  return 0;
}
