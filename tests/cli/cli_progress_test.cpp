// The progress line that vellumcast-cli index shows on a terminal (a
// pseudo-terminal here): folders, images, images per second, elapsed time.

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"

namespace {

// Runs the program on a pseudo-terminal; returns everything it wrote there
// (stdout and stderr) and sets `exit_code`.
std::string RunOnTerminal(const std::vector<std::string>& args, int* exit_code) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ExecCli(args);
  }
  *exit_code = -1;
  if (pid < 0) return {};
  std::string output;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EIO once the program has closed the terminal
    output.append(buffer, static_cast<size_t>(n));
  }
  ::close(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
  return output;
}

TEST(CliProgress, ATerminalSeesFoldersImagesRateAndTime) {
  TScratchDir dir("vc-cli-progress");
  ASSERT_TRUE(WriteTestGif(dir.Join("p/sub/a.gif"), 16, 16));
  ASSERT_TRUE(WriteTestBmp24(dir.Join("p/b.bmp"), 8, 8));
  int exit_code = 0;
  const std::string shown = RunOnTerminal({"index", dir.Join("p")}, &exit_code);
  EXPECT_EQ(exit_code, 0) << shown;
  // The last refresh, after the run: every count final. The terminal turns "\n" into "\r\n".
  const size_t last = shown.rfind("\rFolders: 1  Images: 2  ");
  ASSERT_NE(last, std::string::npos) << shown;
  const std::string line = shown.substr(last, shown.find('\n', last) - last);
  EXPECT_NE(line.find(" images/s  0:00:0"), std::string::npos) << line;
  EXPECT_NE(line.find(" elapsed"), std::string::npos) << line;
  EXPECT_NE(shown.find("Directories Processed: 1\r\nFiles Processed: 2\r\nIndices Created: 2\r\n"), std::string::npos)
      << shown;

  const std::string quiet = RunOnTerminal({"index", "-q", dir.Join("p")}, &exit_code);
  EXPECT_EQ(exit_code, 0);
  EXPECT_EQ(quiet, "");
}

}  // namespace
