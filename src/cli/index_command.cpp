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
#include "engine/catalog_filter.h"
#include "engine/first_page.h"
#include "engine/first_start_defaults.h"
#include "engine/image_order.h"
#include "engine/run_report.h"
#include "engine/template_reader.h"
#include "engine/thread_vellumcast.h"
#include "support/path_util.h"

namespace {

enum class TOptionKind { kCount, kInteger, kFlag, kByteFlag, kChoice01, kText, kNamed, kPatterns, kStyle, kPageName };

// Parses a named value (kNamed options) into its number.
using TNameParser = bool (*)(const char* text, int32_t* value);

// One row per option; a new option is one more row.
struct TIndexOption {
  const char* name;
  TOptionKind kind;
  int32_t TThreadVellumcast::*number;
  std::string TThreadVellumcast::*text;
  TNameParser parse = nullptr;
  const char* choices = nullptr;  // the named values, for the error message
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
    {"rebuild", TOptionKind::kFlag, &TThreadVellumcast::rebuild, nullptr},
    {"prune", TOptionKind::kFlag, &TThreadVellumcast::prune, nullptr},
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
    {"follow-links", TOptionKind::kFlag, &TThreadVellumcast::followlinks, nullptr},
    {"style", TOptionKind::kStyle, &TThreadVellumcast::style, nullptr},
    {"firstpage", TOptionKind::kPageName, nullptr, &TThreadVellumcast::firstpage},
    {"formats", TOptionKind::kNamed, &TThreadVellumcast::formats, nullptr, ParseCatalogFormats,
     "classic or all"},
    {"order", TOptionKind::kNamed, &TThreadVellumcast::order, nullptr, ParseImageOrder,
     "name, natural or date"},
    {"exclude", TOptionKind::kPatterns, nullptr, nullptr},
    {"skiphidden", TOptionKind::kFlag, &TThreadVellumcast::skiphidden, nullptr},
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
  if (option.kind == TOptionKind::kPageName) {
    if (!IsValidFirstPageName(value)) {
      std::fprintf(stderr,
                   "vellumcast-cli index: --%s must be a file name of letters, digits, '.', '-' and '_' "
                   "ending in .html or .htm that names no other generated page, not '%s'\n",
                   option.name, value);
      return false;
    }
    worker.*option.text = value;
    return true;
  }
  if (option.kind == TOptionKind::kStyle) {
    if (std::strcmp(value, "classic") == 0 || std::strcmp(value, "0") == 0) {
      worker.*option.number = 0;
    } else if (std::strcmp(value, "modern") == 0 || std::strcmp(value, "1") == 0) {
      worker.*option.number = 1;
    } else {
      std::fprintf(stderr, "vellumcast-cli index: --%s must be classic or modern (0 or 1), not '%s'\n",
                   option.name, value);
      return false;
    }
    return true;
  }
  if (option.kind == TOptionKind::kPatterns) {
    if (*value == '\0') {
      std::fprintf(stderr, "vellumcast-cli index: --%s needs a pattern\n", option.name);
      return false;
    }
    worker.exclude.push_back(value);
    return true;
  }
  if (option.kind == TOptionKind::kNamed) {
    if (!option.parse(value, &(worker.*option.number))) {
      std::fprintf(stderr, "vellumcast-cli index: --%s must be %s, not '%s'\n", option.name, option.choices,
                   value);
      return false;
    }
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

// The signal that asked the run to end (0: none yet).
volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int signal_number) { g_interrupted = signal_number; }

// Ctrl-C, a polite kill and a closed terminal all end a run the same way:
// like Cancel, with the counters printed and exit status 128 + the signal.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kStopSignalCount = sizeof kStopSignals / sizeof kStopSignals[0];

struct TStopSignalHandlers {
  struct sigaction previous[kStopSignalCount] = {};

  void Install() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;  // a second signal ends the program at once
    for (size_t i = 0; i < kStopSignalCount; ++i) ::sigaction(kStopSignals[i], &action, &previous[i]);
  }
  void Restore() {
    for (size_t i = 0; i < kStopSignalCount; ++i) ::sigaction(kStopSignals[i], &previous[i], nullptr);
  }
};

void ShowProgress(const TThreadVellumcast& worker) {
  std::fprintf(stderr, "\rDirectories: %d  Files: %d  Indices: %d", worker.dircount.load(),
               worker.filecount.load(), worker.indexcount.load());
  std::fflush(stderr);
}

// Exit status of a run that could not write some of its output.
constexpr int kExitNotWritten = 3;

// One stderr line per kept entry, then how many more there were.
void PrintReportEntries(const TRunReport& report, bool failures) {
  const char* prefix = failures ? "" : "warning: ";
  TRunEntry entry;
  int shown = 0;
  while (failures ? report.KeptFailure(shown, &entry) : report.KeptWarning(shown, &entry)) {
    std::fprintf(stderr, "vellumcast-cli: %s%s %s: %s\n", prefix, entry.action, entry.path, entry.reason);
    ++shown;
  }
  const int32_t total = failures ? report.FailureCount() : report.WarningCount();
  if (total > shown) {
    std::fprintf(stderr, "vellumcast-cli: %s%d more %s\n", prefix, total - shown,
                 failures ? "files could not be written" : "warnings");
  }
}

}  // namespace

int RunIndexCommand(int argc, char** argv) {
  TThreadVellumcast worker;
  ApplyFirstStartDefaults(worker);
  const char* folder = nullptr;
  bool formats_given = false;
  bool skiphidden_given = false;
  bool order_given = false;
  bool prune_given = false;
  bool options_ended = false;
  bool quiet = false;
  bool verbose = false;
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
    if (!options_ended && std::strcmp(arg, "-q") == 0) {
      quiet = true;  // no warnings; failures are still shown
      continue;
    }
    if (!options_ended && (std::strcmp(arg, "-v") == 0 || std::strcmp(arg, "--verbose") == 0)) {
      verbose = true;
      continue;
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
      formats_given = formats_given || std::strcmp(option->name, "formats") == 0;
      skiphidden_given = skiphidden_given || std::strcmp(option->name, "skiphidden") == 0;
      order_given = order_given || std::strcmp(option->name, "order") == 0;
      prune_given = prune_given || std::strcmp(option->name, "prune") == 0;
      continue;
    }
    if (folder != nullptr) {
      std::fprintf(stderr, "vellumcast-cli index: exactly one FOLDER expected\n");
      return 2;
    }
    folder = arg;
  }
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
  char unreadable[kPathBufferSize + 128];
  if (DescribeUnreadableTemplate(worker.headertemplate.c_str(), worker.footertemplate.c_str(), unreadable,
                                 sizeof unreadable)) {
    std::fprintf(stderr, "vellumcast-cli index: %s\n", unreadable);
    return 2;
  }
  // The modern style takes every format, natural order, pruning and skips
  // hidden folders unless told otherwise.
  if (!formats_given) worker.formats = worker.style == 1 ? kFormatsAll : kFormatsClassic;
  if (!skiphidden_given) worker.skiphidden = worker.style == 1 ? 1 : 0;
  if (!order_given && worker.style == 1) worker.order = kOrderNatural;
  if (!prune_given && worker.style == 1) worker.prune = 1;
  worker.path = folder;
  TCliOwner owner;
  worker.ownerwindow = &owner;

  TStopSignalHandlers handlers;
  handlers.Install();

  const bool live = ::isatty(STDERR_FILENO) != 0;
  bool interrupted = false;
  if (!worker.Start()) {
    std::fprintf(stderr, "vellumcast-cli index: cannot start the worker thread\n");
    handlers.Restore();
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
  handlers.Restore();
  if (g_interrupted != 0) interrupted = true;
  if (live) {
    ShowProgress(worker);
    std::fputc('\n', stderr);
  }
  if (!quiet) PrintReportEntries(worker.report, false);
  PrintReportEntries(worker.report, true);
  if (interrupted) std::fprintf(stderr, "vellumcast-cli index: interrupted\n");
  if (worker.firstpagekept.load() > 0) {
    std::fprintf(stderr,
                 "vellumcast-cli index: warning: %d folder(s) hold a file named %s that no run wrote; "
                 "their first page is %s\n",
                 worker.firstpagekept.load(), worker.firstpage.c_str(), "vellumcast.html");
  }
  if (!quiet && worker.skipped_undisplayable.load() > 0) {
    std::fprintf(stderr,
                 "vellumcast-cli index: images left out: %d; no browser shows them (HEIC/HEIF, TIFF, Targa, "
                 "FITS); --createthumbs=1 makes thumbnails for them\n",
                 worker.skipped_undisplayable.load());
  }
  std::printf("Directories Processed: %d\nFiles Processed: %d\nIndices Created: %d\n",
              worker.dircount.load(), worker.filecount.load(), worker.indexcount.load());
  // Thumbnails decoded from their source images, and reused from earlier runs.
  if (verbose) std::printf("decoded %d, reused %d\n", worker.decodedcount.load(), worker.reusedcount.load());
  std::fflush(stdout);
  if (interrupted) return 128 + static_cast<int>(g_interrupted);
  return worker.report.FailureCount() > 0 ? kExitNotWritten : 0;
}
