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
#include "cli/index_options.h"
#include "cli/option_parser.h"
#include "engine/run/catalog_filter.h"
#include "engine/store/first_page.h"
#include "engine/store/generated_names.h"
#include "engine/run/image_order.h"
#include "engine/publish/original_copies.h"
#include "engine/run/run_report.h"
#include "engine/classic/template_reader.h"
#include "engine/modern/theme.h"
#include "engine/publish/output_check.h"
#include "engine/run/thread_vellumcast.h"
#include "support/path_util.h"

namespace {

// Help lines come after the member pointers, so a row may leave them out.
constexpr TIndexOption kIndexOptions[] = {
    {"cellwidth", TOptionKind::kCount, &TIndexOptions::cellwidth, "cell width in pixels, 1 or more"},
    {"cellheight", TOptionKind::kCount, &TIndexOptions::cellheight, "cell height in pixels, 1 or more"},
    {"cellsperrow", TOptionKind::kCount, &TIndexOptions::cellsperrow, "cells per table row, 1 or more"},
    {"rowsperpage", TOptionKind::kInteger, &TIndexOptions::rowsperpage,
     "rows per page; 0 or less: one page per folder"},
    {"sort", TOptionKind::kChoice01, &TIndexOptions::sort,
     "subfolder list: 0 alphabetical, 1 by image count"},
    {"createthumbs", TOptionKind::kFlag, &TIndexOptions::createthumbs,
     "write JPEG thumbnails into quarto_tn"},
    {"thumbwhite", TOptionKind::kByteFlag, &TIndexOptions::thumbwhite,
     "white thumbnail background (off: black)"},
    {"straightforward", TOptionKind::kFlag, &TIndexOptions::straightforward,
     "decode each thumbnail in full, one by one"},
    {"hlinks", TOptionKind::kFlag, &TIndexOptions::hlinks, "subfolder lists and redirect pages"},
    {"blinks", TOptionKind::kFlag, &TIndexOptions::blinks, "Up Level links and back-link pages"},
    {"centertable", TOptionKind::kFlag, &TIndexOptions::centertable, "centre the image table"},
    {"centertitle", TOptionKind::kFlag, &TIndexOptions::centertitle, "centre the title"},
    {"centerfooter", TOptionKind::kFlag, &TIndexOptions::centerfooter, "centre the footer text"},
    {"centernavbar", TOptionKind::kFlag, &TIndexOptions::centernavbar, "centre the navigation bar"},
    {"dirfirstpageonly", TOptionKind::kFlag, &TIndexOptions::dirfirstpageonly,
     "subfolder list on a folder's first page only"},
    {"includefilenames", TOptionKind::kFlag, &TIndexOptions::includefilenames,
     "file name under each image"},
    {"title", TOptionKind::kText, &TIndexOptions::title, "heading of every page"},
    {"footertext", TOptionKind::kText, &TIndexOptions::footertext, "footer of every page"},
    {"headertemplate", TOptionKind::kText, &TIndexOptions::headertemplate,
     "HTML file whose head and body start begin every page", "FILE"},
    {"footertemplate", TOptionKind::kText, &TIndexOptions::footertemplate,
     "HTML file whose body ends every page", "FILE"},
    {"follow-links", TOptionKind::kFlag, &TIndexOptions::followlinks,
     "enter symbolic links to folders outside FOLDER"},
    {"rebuild", TOptionKind::kFlag, &TIndexOptions::rebuild,
     "decode every thumbnail and write every file afresh"},
    {"prune", TOptionKind::kFlag, &TIndexOptions::prune,
     "remove generated files a folder no longer has (on with the modern style)"},
    {"style", TOptionKind::kStyle, &TIndexOptions::style,
     "classic tables, or modern pages for phones with a viewer page per photo", "classic|modern"},
    {"theme", TOptionKind::kText, &TIndexOptions::theme,
     "modern pages from the templates and style in DIR where it has them (see 'theme export')", "DIR"},
    {"crop", TOptionKind::kFlag, &TIndexOptions::crop,
     "modern thumbnails fill their cell, the overflow cut (off: fitted inside it)"},
    {"firstpage", TOptionKind::kPageName, &TIndexOptions::firstpage,
     "file name of each folder's first page, e.g. index.html", "NAME"},
    {"formats", TOptionKind::kNamed, &TIndexOptions::formats,
     "classic: .gif .jpg .bmp; all: every readable format (all with the modern style)", "classic|all",
     ParseCatalogFormats},
    {"order", TOptionKind::kNamed, &TIndexOptions::order,
     "image order: byte order of names, img2 before img10, or date taken (natural with the modern style)",
     "name|natural|date", ParseImageOrder},
    {"exclude", TOptionKind::kPatterns, {},
     "leave out files and folders whose name matches (* and ?, any case); repeatable", "PATTERN"},
    {"skiphidden", TOptionKind::kFlag, &TIndexOptions::skiphidden,
     "leave out .hidden, @eaDir and #recycle folders (on with the modern style)"},
    {"output", TOptionKind::kFolder, &TIndexOptions::outputpath,
     "write the catalog into DIR, mirroring FOLDER, and leave FOLDER untouched", "DIR"},
    {"images", TOptionKind::kNamed, &TIndexOptions::images,
     "with --output, pages reach the photos by relative links, copies or hard links beside them",
     "link|copy|hardlink", ParseImagesMode},
    {"captions", TOptionKind::kNamed, &TIndexOptions::captions,
     "cell captions: auto (modern: a photo's title or caption, classic: file names), title (both styles), "
     "or file names",
     "auto|title|name", ParseCaptionsMode},
    {"show-location", TOptionKind::kFlag, &TIndexOptions::showlocation,
     "show where a photo was taken (its coordinates and a map link) on its viewer page"},
    {"strip-location", TOptionKind::kFlag, &TIndexOptions::striplocation,
     "with --output and --images=copy, copies of the photos leave out their GPS tags"},
    {"video", TOptionKind::kNamed, &TIndexOptions::video,
     "modern style: videos linked as they are, a web copy of those browsers do not play (minutes of CPU per "
     "minute of video), or left out",
     "link|transcode|off", ParseVideoMode},
};

bool ParseInt32(const std::string& text, int32_t* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

}  // namespace

std::span<const TIndexOption> IndexOptions() { return kIndexOptions; }

namespace {

// The settings key of an option: its name without dashes ("follow-links" is
// stored as "followlinks").
bool SameOptionName(const std::string& name, const char* option) {
  size_t i = 0;
  for (const char* p = option; *p != '\0'; ++p) {
    if (*p == '-' && (i >= name.size() || name[i] != '-')) continue;
    if (i >= name.size() || name[i] != *p) return false;
    ++i;
  }
  return i == name.size();
}

}  // namespace

const TIndexOption* FindIndexOption(const std::string& name) {
  // The window keeps the output folder under the key "outputpath".
  if (name == "outputpath") return FindIndexOption("output");
  for (const TIndexOption& option : kIndexOptions) {
    if (SameOptionName(name, option.name)) return &option;
  }
  return nullptr;
}

int32_t OptionNumber(const TIndexOptions& options, const TIndexOption& option) {
  return std::visit(
      [&](auto field) -> int32_t {
        using TField = decltype(field);
        if constexpr (std::is_same_v<TField, std::monostate> ||
                      std::is_same_v<TField, std::string TIndexOptions::*>) {
          return 0;
        } else {
          return static_cast<int32_t>(options.*field);
        }
      },
      option.field);
}

void SetOptionNumber(TIndexOptions& options, const TIndexOption& option, int32_t number) {
  std::visit(
      [&](auto field) {
        using TField = decltype(field);
        if constexpr (std::is_same_v<TField, bool TIndexOptions::*>) {
          options.*field = number != 0;
        } else if constexpr (!std::is_same_v<TField, std::monostate> &&
                             !std::is_same_v<TField, std::string TIndexOptions::*>) {
          using TValue = std::remove_reference_t<decltype(options.*field)>;
          options.*field = static_cast<TValue>(number);
        }
      },
      option.field);
}

const std::string& OptionText(const TIndexOptions& options, const TIndexOption& option) {
  static const std::string kNone;
  const auto* text = std::get_if<std::string TIndexOptions::*>(&option.field);
  return text != nullptr ? options.**text : kNone;
}

bool ApplyIndexOption(TIndexOptions& options, const TIndexOption& option, const std::string& value,
                      std::string* error) {
  switch (option.kind) {
    case TOptionKind::kText:
      options.*std::get<std::string TIndexOptions::*>(option.field) = value;
      return true;
    case TOptionKind::kFolder:
      // An empty value would put the catalog among the photos: a variable
      // left unset (--output="$SITE") must not do that silently.
      if (value.empty()) {
        *error = "needs a folder; an empty one would write the catalog into the photo tree";
        return false;
      }
      options.*std::get<std::string TIndexOptions::*>(option.field) = value;
      return true;
    case TOptionKind::kPageName:
      if (!IsValidFirstPageName(value.c_str())) {
        *error = "must be a file name of letters, digits, '.', '-' and '_' ending in .html or .htm that names "
                 "no other generated page, not '" + value + "'";
        return false;
      }
      options.*std::get<std::string TIndexOptions::*>(option.field) = value;
      return true;
    case TOptionKind::kStyle:
      if (value == "classic" || value == "0") {
        SetOptionNumber(options, option, kStyleClassic);
      } else if (value == "modern" || value == "1") {
        SetOptionNumber(options, option, kStyleModern);
      } else {
        *error = "must be classic or modern (0 or 1), not '" + value + "'";
        return false;
      }
      return true;
    case TOptionKind::kPatterns:
      if (value.empty()) {
        *error = "needs a pattern";
        return false;
      }
      options.exclude.push_back(value);
      return true;
    case TOptionKind::kNamed:
      if (int32_t named = 0; option.parse(value.c_str(), &named)) {
        SetOptionNumber(options, option, named);
      } else {
        *error = std::string("must be ") + option.value_name + ", not '" + value + "'";
        return false;
      }
      return true;
    default:
      break;
  }
  const bool on_off = option.kind == TOptionKind::kFlag || option.kind == TOptionKind::kByteFlag;
  const char* digit = on_off ? OnOffDigit(value) : nullptr;
  int32_t number = 0;
  if (digit == nullptr && !ParseInt32(value, &number)) {
    *error = std::string(on_off ? "must be 0 or 1" : "needs a whole number") + ", not '" + value + "'";
    return false;
  }
  if (digit != nullptr) number = digit[0] - '0';
  switch (option.kind) {
    case TOptionKind::kCount:
      if (number < 1) {
        *error = "must be 1 or more";
        return false;
      }
      break;
    case TOptionKind::kFlag:
    case TOptionKind::kByteFlag:
    case TOptionKind::kChoice01:
      if (number != 0 && number != 1) {
        *error = "must be 0 or 1";
        return false;
      }
      if (option.kind == TOptionKind::kByteFlag) number *= 255;
      break;
    default:
      break;
  }
  SetOptionNumber(options, option, number);
  return true;
}

namespace {

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

// Folders walked, images written, their rate and the time so far, on one
// line that each refresh overwrites.
void ShowProgress(const TThreadVellumcast& worker, std::chrono::steady_clock::time_point started) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const int32_t images = worker.counters.filecount.load() - worker.counters.videocount.load();
  const double rate = seconds > 0.05 ? images / seconds : 0.0;
  const long whole = static_cast<long>(seconds);
  // Videos are counted apart once there are any; a web copy under way shows how far it is.
  char videos[64] = "";
  const int32_t video_count = worker.counters.videocount.load();
  const int32_t copying = worker.counters.videoprogress.load();
  if (copying >= 0) {
    std::snprintf(videos, sizeof videos, "  Videos: %d (web copy %d%%)", video_count, copying / 10);
  } else if (video_count > 0) {
    std::snprintf(videos, sizeof videos, "  Videos: %d", video_count);
  }
  std::fprintf(stderr, "\rFolders: %d  Images: %d%s  %.1f images/s  %ld:%02ld:%02ld elapsed   ",
               worker.counters.dircount.load(), images, videos, rate, whole / 3600, whole / 60 % 60, whole % 60);
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
  const TIndexRequest request = PrepareIndexRun(argc, argv, worker.options);
  if (request.show_help) {
    PrintIndexHelp(stdout);
    return 0;
  }
  if (request.show_version) {
    PrintVersion();
    return 0;
  }
  if (request.exit_code >= 0) {
    std::fprintf(stderr, "vellumcast-cli index: %s\n", request.message.c_str());
    if (request.exit_code == 2) std::fputs("Try 'vellumcast-cli index --help'.\n", stderr);
    return request.exit_code;
  }
  const char* folder = request.folder.c_str();
  struct stat info;
  if (::stat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::fprintf(stderr, "vellumcast-cli index: '%s' does not exist or is not a folder\n", folder);
    return 1;
  }
  if (std::strlen(folder) > kMaxFolderPath) {
    std::fprintf(stderr, "vellumcast-cli index: folder path longer than %zu characters\n", kMaxFolderPath);
    return 1;
  }
  std::string overlap;
  if (!OutputFolderKeepsApart(folder, worker.options.outputpath.c_str(), &overlap)) {
    std::fprintf(stderr, "vellumcast-cli index: %s\n", overlap.c_str());
    return 2;
  }
  char unreadable[kPathBufferSize + 128];
  if (DescribeUnreadableTemplate(worker.options.headertemplate.c_str(), worker.options.footertemplate.c_str(), unreadable,
                                 sizeof unreadable)) {
    std::fprintf(stderr, "vellumcast-cli index: %s\n", unreadable);
    return 2;
  }
  // A theme that does not load is refused before anything is written.
  if (!worker.options.theme.empty()) {
    TModernTheme theme;
    TThemeError error;
    if (!theme.Load(worker.options.theme, &error)) {
      std::fprintf(stderr, "vellumcast-cli index: theme: %s\n", error.Describe().c_str());
      return 2;
    }
  }
  worker.options.path = folder;
  if (request.verbosity > 1) {
    for (const std::string& source : request.sources) std::fprintf(stderr, "Settings from %s\n", source.c_str());
  }
  TCliOwner owner;
  worker.ownerwindow = &owner;

  TStopSignalHandlers handlers;
  handlers.Install();

  const bool live = request.verbosity > 0 && ::isatty(STDERR_FILENO) != 0;
  const auto started = std::chrono::steady_clock::now();
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
    if (live) ShowProgress(worker, started);
  }
  worker.WaitFor();
  handlers.Restore();
  if (g_interrupted != 0) interrupted = true;
  if (live) {
    ShowProgress(worker, started);
    std::fputc('\n', stderr);
  }
  const bool quiet = request.verbosity == 0;
  if (!quiet) PrintReportEntries(worker.report, false);
  PrintReportEntries(worker.report, true);
  if (interrupted) std::fprintf(stderr, "vellumcast-cli index: interrupted\n");
  if (!quiet && worker.counters.firstpagekept.load() > 0) {
    std::fprintf(stderr,
                 "vellumcast-cli index: warning: %d folder(s) hold a file named %s that no run wrote; "
                 "their first page is %s\n",
                 worker.counters.firstpagekept.load(), worker.options.firstpage.c_str(), kFirstPageName);
  }
  if (!quiet && worker.counters.skipped_undisplayable.load() > 0) {
    std::fprintf(stderr,
                 "vellumcast-cli index: images left out: %d; no browser shows them (HEIC/HEIF, TIFF, Targa, "
                 "FITS); --createthumbs=1 makes thumbnails for them\n",
                 worker.counters.skipped_undisplayable.load());
  }
  if (request.verbosity > 0) {
    std::printf("Directories Processed: %d\nFiles Processed: %d\nIndices Created: %d\n",
                worker.counters.dircount.load(), worker.counters.filecount.load(), worker.counters.indexcount.load());
  }
  if (request.verbosity > 1) {
    // Thumbnails decoded from their source images, and reused from earlier runs.
    std::printf("decoded %d, reused %d\n", worker.counters.decodedcount.load(), worker.counters.reusedcount.load());
    // Videos apart, once a run has any.
    if (worker.counters.videocount.load() > 0) {
      std::printf("videos %d, transcoded %d\n", worker.counters.videocount.load(),
                  worker.counters.transcodedcount.load());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("Time: %.2f s, %.1f images/s\n", seconds, seconds > 0 ? worker.counters.filecount.load() / seconds : 0.0);
  }
  std::fflush(stdout);
  if (interrupted) return 128 + static_cast<int>(g_interrupted);
  return worker.report.FailureCount() > 0 ? kExitNotWritten : 0;
}
