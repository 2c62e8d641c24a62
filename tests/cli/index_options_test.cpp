// From index command lines, settings files and configuration files to the
// options' fields, exit codes and messages (in-process, no run).

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli/index_options.h"
#include "cli/option_parser.h"
#include "fixtures/tree_writer.h"

namespace {

TIndexRequest Prepare(const std::vector<std::string>& args, TIndexOptions& options) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return PrepareIndexRun(static_cast<int>(argv.size()), argv.data(), options);
}

std::string Joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) text += "[" + a + "]";
  return text;
}

// Points XDG_CONFIG_HOME at a scratch folder for the test's lifetime.
class ScopedConfigHome {
 public:
  ScopedConfigHome() {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
  }
  ~ScopedConfigHome() {
    if (had_) {
      ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
  }
  bool WriteSettings(const std::string& text) { return WriteFileBytes(dir_.Join("Korvane/vellumcast.conf"), text); }
  std::string Join(const std::string& name) const { return dir_.Join(name); }

 private:
  TScratchDir dir_{"vc-config-home"};
  bool had_ = false;
  std::string old_;
};

TEST(IndexCommandLine, EveryFormReachesTheWorker) {
  struct TCase {
    std::vector<std::string> args;
    TOptionField field;
    int32_t expected;
  };
  const std::vector<TCase> cases = {
      {{"--cellwidth=200", "d"}, &TIndexOptions::cellwidth, 200},
      {{"--cellwidth", "200", "d"}, &TIndexOptions::cellwidth, 200},
      {{"d", "--cellwidth", "200"}, &TIndexOptions::cellwidth, 200},  // options after the folder
      {{"--cellwidth=5", "--cellwidth=7", "d"}, &TIndexOptions::cellwidth, 7},  // the last one counts
      {{"--rowsperpage", "-3", "d"}, &TIndexOptions::rowsperpage, -3},  // a negative value, not an option
      {{"--createthumbs", "d"}, &TIndexOptions::createthumbs, 1},
      {{"--createthumbs=1", "d"}, &TIndexOptions::createthumbs, 1},
      {{"--createthumbs=yes", "d"}, &TIndexOptions::createthumbs, 1},
      {{"--createthumbs", "--no-createthumbs", "d"}, &TIndexOptions::createthumbs, 0},
      {{"--no-hlinks", "d"}, &TIndexOptions::hlinks, 0},
      {{"--hlinks=off", "d"}, &TIndexOptions::hlinks, 0},
      {{"--thumbwhite", "d"}, &TIndexOptions::thumbwhite, 255},
      {{"--thumbwhite=0", "d"}, &TIndexOptions::thumbwhite, 0},
      {{"--sort", "0", "d"}, &TIndexOptions::sort, 0},
      {{"-qv", "d"}, &TIndexOptions::cellwidth, 140},  // first-start default
  };
  for (const TCase& c : cases) {
    TIndexOptions worker;
    const TIndexRequest request = Prepare(c.args, worker);
    EXPECT_EQ(request.exit_code, -1) << Joined(c.args) << " " << request.message;
    EXPECT_EQ(OptionNumber(worker, TIndexOption{"", TOptionKind::kCount, c.field}), c.expected) << Joined(c.args);
    EXPECT_EQ(request.folder, "d") << Joined(c.args);
  }
}

TEST(IndexCommandLine, TextsFoldersAndVerbosity) {
  TIndexOptions worker;
  TIndexRequest request = Prepare({"--title", "My trip", "--footertext=", "-q", "--", "--odd folder"}, worker);
  EXPECT_EQ(request.exit_code, -1) << request.message;
  EXPECT_EQ(worker.title, "My trip");
  EXPECT_EQ(worker.footertext, "");
  EXPECT_EQ(request.folder, "--odd folder");
  EXPECT_EQ(request.verbosity, 0);
  request = Prepare({"-v", "-"}, worker);
  EXPECT_EQ(request.folder, "-");  // a lone dash is a folder name
  EXPECT_EQ(request.verbosity, 2);
}

TEST(IndexCommandLine, HelpAndVersionWinOverEverythingElse) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-h"}, {"--help"}, {"--cellwidth=0", "--help"}, {"a", "b", "-h"}}) {
    TIndexOptions worker;
    const TIndexRequest request = Prepare(args, worker);
    EXPECT_TRUE(request.show_help) << Joined(args);
    EXPECT_EQ(request.exit_code, -1) << Joined(args);
  }
  TIndexOptions worker;
  EXPECT_TRUE(Prepare({"-V"}, worker).show_version);
}

TEST(IndexCommandLine, UsageErrorsNameTheOption) {
  struct TCase {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<TCase> cases = {
      {{"--colour=1", "d"}, "unknown option '--colour'"},
      {{"--cell=1", "d"}, "unknown option '--cell'"},  // no guessing from a prefix
      {{"--no-cellwidth", "d"}, "unknown option '--no-cellwidth'"},
      {{"--no-hlinks=1", "d"}, "--no-hlinks takes no value"},
      {{"--help=1"}, "--help takes no value"},
      {{"-x", "d"}, "unknown option '-x'"},
      {{"d", "--cellwidth"}, "--cellwidth needs a value (--cellwidth=VALUE)"},
      {{"--cellwidth=abc", "d"}, "--cellwidth needs a whole number, not 'abc'"},
      {{"--cellwidth", "d"}, "--cellwidth needs a whole number, not 'd'"},
      {{"--cellwidth=0", "d"}, "--cellwidth must be 1 or more"},
      {{"--cellwidth=99999999999", "d"}, "--cellwidth needs a whole number, not '99999999999'"},
      {{"--rowsperpage=", "d"}, "--rowsperpage needs a whole number, not ''"},
      {{"--hlinks=2", "d"}, "--hlinks must be 0 or 1"},
      {{"--createthumbs=maybe", "d"}, "--createthumbs must be 0 or 1, not 'maybe'"},
      {{"--sort=yes", "d"}, "--sort needs a whole number, not 'yes'"},
      {{"--config=", "d"}, "--config needs a file name"},
      {{}, "FOLDER missing"},
      {{"a", "b"}, "exactly one FOLDER expected"},
  };
  for (const TCase& c : cases) {
    TIndexOptions worker;
    const TIndexRequest request = Prepare(c.args, worker);
    EXPECT_EQ(request.exit_code, 2) << Joined(c.args);
    EXPECT_EQ(request.message, c.message) << Joined(c.args);
  }
}

TEST(IndexCommandLine, OptionsOverrideConfigWhichOverridesSettings) {
  ScopedConfigHome home;
  ASSERT_TRUE(home.WriteSettings(
      "[General]\npath=/srv/photos\ncellwidth=300\ncellheight=200\ntitle=\"Saved, title\"\n"
      "createthumbs=1\nthumbwhite=1\nheadertemplateenable=0\nheadertemplate=/h.html\n"
      "footertemplateenable=1\nfootertemplate=/f.html\nunknownkey=whatever\n"));
  const std::string config = home.Join("run.conf");
  ASSERT_TRUE(WriteFileBytes(config, "# photos for the web\n\n  cellheight = 150  \ntitle=From config\n"));

  TIndexOptions worker;
  TIndexRequest request = Prepare({"--settings", "--config", config, "--title=Typed"}, worker);
  ASSERT_EQ(request.exit_code, -1) << request.message;
  EXPECT_EQ(request.folder, "/srv/photos");  // the window's starting folder
  EXPECT_EQ(worker.cellwidth, 300);          // settings
  EXPECT_EQ(worker.cellheight, 150);         // config over settings
  EXPECT_EQ(worker.title, "Typed");          // command line over both
  EXPECT_EQ(worker.createthumbs, 1);
  EXPECT_EQ(worker.thumbwhite, 255);
  EXPECT_EQ(worker.headertemplate, "");      // its box is not ticked
  EXPECT_EQ(worker.footertemplate, "/f.html");
  EXPECT_EQ(worker.rowsperpage, 4);          // first-start default

  TIndexOptions second;
  request = Prepare({"--settings", "elsewhere"}, second);
  EXPECT_EQ(request.folder, "elsewhere");
  EXPECT_EQ(second.title, "Saved, title");
}

// Values the window itself accepts on loading: a choice out of range is held
// to it (-3 selects nothing, as in the window), a tick is any nonzero number.
TEST(IndexCommandLine, SettingsAreReadAsTheWindowReadsThem) {
  ScopedConfigHome home;
  struct TCase {
    std::string sort;
    int32_t expected;
  };
  for (const TCase& c : {TCase{"5", 1}, TCase{"-3", -1}, TCase{"0", 0}}) {
    ASSERT_TRUE(home.WriteSettings("[General]\nsort=" + c.sort + "\nheadertemplateenable=2\nheadertemplate=/h\n"
                                   "footertemplateenable=abc\nfootertemplate=/f\n"));
    TIndexOptions worker;
    const TIndexRequest request = Prepare({"--settings", "d"}, worker);
    ASSERT_EQ(request.exit_code, -1) << request.message;
    EXPECT_EQ(worker.sort, c.expected) << c.sort;
    EXPECT_EQ(worker.headertemplate, "/h");
    EXPECT_EQ(worker.footertemplate, "");
  }
}

TEST(IndexCommandLine, FileErrorsNameFileAndLine) {
  ScopedConfigHome home;
  const std::string config = home.Join("bad.conf");
  const std::string settings = home.Join("Korvane/vellumcast.conf");
  struct TCase {
    std::string settings_text;  // empty: no --settings
    std::string config_text;    // empty: no --config
    std::string message;
  };
  const std::vector<TCase> cases = {
      {"", "cellwidth=1\nfrobnicate=2\n", config + ":2: unknown setting 'frobnicate'"},
      {"", "\n# c\ncellwidth 100\n", config + ":3: expected name=value"},
      {"", "cellwidth=0\n", config + ":1: cellwidth must be 1 or more"},
      {"[General]\ncellwidth=abc\n", "", settings + ":2: cellwidth needs a whole number, not 'abc'"},
      {"[General]\ntitle=\"open\n", "", settings + ":2: a quote is not closed"},
  };
  for (const TCase& c : cases) {
    std::vector<std::string> args;
    if (!c.settings_text.empty()) {
      ASSERT_TRUE(home.WriteSettings(c.settings_text));
      args.push_back("--settings");
    }
    if (!c.config_text.empty()) {
      ASSERT_TRUE(WriteFileBytes(config, c.config_text));
      args.push_back("--config=" + config);
    }
    args.push_back("d");
    TIndexOptions worker;
    const TIndexRequest request = Prepare(args, worker);
    EXPECT_EQ(request.exit_code, 2) << c.message;
    EXPECT_EQ(request.message, c.message);
  }
  TIndexOptions worker;
  TIndexRequest request = Prepare({"--config", home.Join("missing.conf"), "d"}, worker);
  EXPECT_EQ(request.exit_code, 2);
  EXPECT_EQ(request.message, "--config: cannot read " + home.Join("missing.conf") + ": No such file or directory");
  request = Prepare({"--config", home.Join(""), "d"}, worker);  // a folder
  EXPECT_EQ(request.message, "--config: cannot read " + home.Join("") + ": not a regular file");
  ASSERT_EQ(std::remove(settings.c_str()), 0);
  request = Prepare({"--settings", "d"}, worker);
  EXPECT_EQ(request.exit_code, 2);
  EXPECT_NE(request.message.find("--settings: cannot read the window's settings " + settings), std::string::npos);
}

TEST(IndexCommandLine, SettingsPathFollowsXdgConfigHome) {
  ScopedConfigHome home;
  EXPECT_EQ(WindowSettingsPath(), home.Join("Korvane/vellumcast.conf"));
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored, as the XDG rules say
  const char* user_home = std::getenv("HOME");
  EXPECT_EQ(WindowSettingsPath(), std::string(user_home != nullptr ? user_home : "") + "/.config/Korvane/vellumcast.conf");
}

TEST(OptionParser, ShortOptionsWithValuesAndClusters) {
  const TOptionSyntax syntax[] = {
      {"all", 'a', TOptionArity::kNone}, {"name", 'n', TOptionArity::kValue}, {"big", 'b', TOptionArity::kOnOff}};
  struct TCase {
    std::vector<std::string> args;
    std::vector<std::string> seen;  // "index=value" per option
    std::vector<std::string> operands;
  };
  const std::vector<TCase> cases = {
      {{"-ab", "x"}, {"0=", "2=1"}, {"x"}},
      {{"-anfoo", "x"}, {"0=", "1=foo"}, {"x"}},
      {{"-n", "foo", "x"}, {"1=foo"}, {"x"}},
      {{"-n", "-a"}, {"1=-a"}, {}},  // a value may start with a dash
      {{"x", "--", "-a", "--big"}, {}, {"x", "-a", "--big"}},
      {{"--name=a=b"}, {"1=a=b"}, {}},
  };
  for (const TCase& c : cases) {
    std::vector<const char*> argv;
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    const TParsedArguments parsed = ParseArguments(syntax, static_cast<int>(argv.size()), argv.data());
    ASSERT_TRUE(parsed.ok) << Joined(c.args) << parsed.error;
    std::vector<std::string> seen;
    for (const TParsedOption& o : parsed.options) seen.push_back(std::to_string(o.index) + "=" + o.value);
    EXPECT_EQ(seen, c.seen) << Joined(c.args);
    EXPECT_EQ(parsed.operands, c.operands) << Joined(c.args);
  }
  const char* dangling[] = {"-an"};
  const TParsedArguments parsed = ParseArguments(syntax, 1, dangling);
  EXPECT_FALSE(parsed.ok);
  EXPECT_EQ(parsed.error, "-n needs a value");
}

}  // namespace
