// vellumcast-cli index: one run of the same worker the window runs, with a
// live progress line on a terminal and the three counters at the end.

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <semaphore>
#include <string>

#include "cli/commands.h"
#include "engine/first_start_defaults.h"
#include "engine/thread_vellumcast.h"
#include "support/path_util.h"

namespace {

enum class TOptionKind { kCount, kInteger, kFlag, kByteFlag, kChoice01, kText };

// One row per option; a new option is one more row.
struct TIndexOption {
  const char* name;
  TOptionKind kind;
  int32_t TThreadVellumcast::*number;
  std::string TThreadVellumcast::*text;
};

constexpr TIndexOption kIndexOptions[] = {
    {"cellwidth", TOptionKind::kCount, &TThreadVellumcast::cellwidth, nullptr},
    {"cellheight", TOptionKind::kCount, &TThreadVellumcast::cellheight, nullptr},
    {"cellsperrow", TOptionKind::kCount, &TThreadVellumcast::cellsperrow, nullptr},
    {"rowsperpage", TOptionKind::kInteger, &TThreadVellumcast::rowsperpage, nullptr},
    {"sort", TOptionKind::kChoice01, &TThreadVellumcast::sort, nullptr},
    {"createthumbs", TOptionKind::kFlag, &TThreadVellumcast::createthumbs, nullptr},
    {"thumbwhite", TOptionKind::kByteFlag, &TThreadVellumcast::thumbwhite, nullptr},
    {"straightforward", TOptionKind::kFlag, &TThreadVellumcast::straightforward, nullptr},
    {"hlinks", TOptionKind::kFlag, &TThreadVellumcast::hlinks, nullptr},
    {"blinks", TOptionKind::kFlag, &TThreadVellumcast::blinks, nullptr},
    {"centertable", TOptionKind::kFlag, &TThreadVellumcast::centertable, nullptr},
    {"centertitle", TOptionKind::kFlag, &TThreadVellumcast::centertitle, nullptr},
    {"centerfooter", TOptionKind::kFlag, &TThreadVellumcast::centerfooter, nullptr},
    {"centernavbar", TOptionKind::kFlag, &TThreadVellumcast::centernavbar, nullptr},
    {"dirfirstpageonly", TOptionKind::kFlag, &TThreadVellumcast::dirfirstpageonly, nullptr},
    {"includefilenames", TOptionKind::kFlag, &TThreadVellumcast::includefilenames, nullptr},
    {"title", TOptionKind::kText, nullptr, &TThreadVellumcast::title},
    {"footertext", TOptionKind::kText, nullptr, &TThreadVellumcast::footertext},
    {"headertemplate", TOptionKind::kText, nullptr, &TThreadVellumcast::headertemplate},
    {"footertemplate", TOptionKind::kText, nullptr, &TThreadVellumcast::footertemplate},
};

bool ParseInt32(const char* text, int32_t* value) {
  if (*text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

// False, with a message on stderr, for a value the option does not take.
bool ApplyOption(TThreadVellumcast& worker, const TIndexOption& option, const char* value) {
  if (option.kind == TOptionKind::kText) {
    worker.*option.text = value;
    return true;
  }
  int32_t number = 0;
  if (!ParseInt32(value, &number)) {
    std::fprintf(stderr, "vellumcast-cli index: --%s needs a whole number, not '%s'\n", option.name, value);
    return false;
  }
  switch (option.kind) {
    case TOptionKind::kCount:
      if (number < 1) {
        std::fprintf(stderr, "vellumcast-cli index: --%s must be 1 or more\n", option.name);
        return false;
      }
      break;
    case TOptionKind::kFlag:
    case TOptionKind::kByteFlag:
    case TOptionKind::kChoice01:
      if (number != 0 && number != 1) {
        std::fprintf(stderr, "vellumcast-cli index: --%s must be 0 or 1\n", option.name);
        return false;
      }
      if (option.kind == TOptionKind::kByteFlag) number *= 255;
      break;
    default:
      break;
  }
  worker.*option.number = number;
  return true;
}

// Notifications from the worker thread, never waited for. Progress does not
// wake the main thread: it refreshes the progress line ten times a second.
class TCliOwner : public TOwnerWindow {
 public:
  void Post(uint32_t message) override {
    if (message != WM_INDEX_DONE) return;
    done_.store(true);
    wake_.release();
  }
  bool Done() const { return done_.load(); }
  void WaitBriefly() { (void)wake_.try_acquire_for(std::chrono::milliseconds(100)); }

 private:
  std::atomic<bool> done_{false};
  std::counting_semaphore<INT_MAX> wake_{0};
};

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

void ShowProgress(const TThreadVellumcast& worker) {
  std::fprintf(stderr, "\rDirectories: %d  Files: %d  Indices: %d", worker.dircount.load(),
               worker.filecount.load(), worker.indexcount.load());
  std::fflush(stderr);
}

}  // namespace

int ParseIndexArguments(int argc, char** argv, TThreadVellumcast& worker, const char** folder) {
  *folder = nullptr;
  bool options_ended = false;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options_ended && std::strcmp(arg, "--") == 0) {
      options_ended = true;
      continue;
    }
    if (!options_ended && std::strcmp(arg, "--help") == 0) {
      PrintUsage(false);
      return 0;
    }
    if (!options_ended && std::strncmp(arg, "--", 2) == 0) {
      const char* equals = std::strchr(arg, '=');
      const std::string name = equals != nullptr ? std::string(arg + 2, equals) : std::string(arg + 2);
      const TIndexOption* option = nullptr;
      for (const TIndexOption& candidate : kIndexOptions) {
        if (name == candidate.name) option = &candidate;
      }
      if (option == nullptr) {
        std::fprintf(stderr, "vellumcast-cli index: unknown option '%s'\n", arg);
        return 2;
      }
      if (equals == nullptr) {
        std::fprintf(stderr, "vellumcast-cli index: --%s needs a value (--%s=VALUE)\n", option->name,
                     option->name);
        return 2;
      }
      if (!ApplyOption(worker, *option, equals + 1)) return 2;
      continue;
    }
    if (*folder != nullptr) {
      std::fprintf(stderr, "vellumcast-cli index: exactly one FOLDER expected\n");
      return 2;
    }
    *folder = arg;
  }
  return -1;
}

int RunIndexCommand(int argc, char** argv) {
  TThreadVellumcast worker;
  ApplyFirstStartDefaults(worker);
  const char* folder = nullptr;
  const int parsed = ParseIndexArguments(argc, argv, worker, &folder);
  if (parsed >= 0) return parsed;
  if (folder == nullptr) {
    std::fprintf(stderr, "vellumcast-cli index: FOLDER missing\n");
    PrintUsage(true);
    return 2;
  }
  struct stat info;
  if (::stat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::fprintf(stderr, "vellumcast-cli index: '%s' does not exist or is not a folder\n", folder);
    return 1;
  }
  if (std::strlen(folder) > kMaxFolderPath) {
    std::fprintf(stderr, "vellumcast-cli index: folder path longer than %zu characters\n", kMaxFolderPath);
    return 1;
  }
  worker.path = folder;
  TCliOwner owner;
  worker.ownerwindow = &owner;

  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
  struct sigaction previous = {};
  ::sigaction(SIGINT, &action, &previous);

  const bool live = ::isatty(STDERR_FILENO) != 0;
  bool interrupted = false;
  if (!worker.Start()) {
    std::fprintf(stderr, "vellumcast-cli index: cannot start the worker thread\n");
    ::sigaction(SIGINT, &previous, nullptr);
    return 1;
  }
  while (!owner.Done()) {
    owner.WaitBriefly();
    if (g_interrupted != 0 && !interrupted) {
      interrupted = true;
      worker.Terminate();
    }
    if (live) ShowProgress(worker);
  }
  worker.WaitFor();
  ::sigaction(SIGINT, &previous, nullptr);
  if (g_interrupted != 0) interrupted = true;
  if (live) {
    ShowProgress(worker);
    std::fputc('\n', stderr);
  }
  if (interrupted) std::fprintf(stderr, "vellumcast-cli index: interrupted\n");
  std::printf("Directories Processed: %d\nFiles Processed: %d\nIndices Created: %d\n",
              worker.dircount.load(), worker.filecount.load(), worker.indexcount.load());
  std::fflush(stdout);
  return interrupted ? 130 : 0;
}
