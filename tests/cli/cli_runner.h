#pragma once
// Runs vellumcast-cli as a user would: in its own process, in a given
// folder, with what it prints captured.

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct TCliResult {
  int exit_code = -1;  // 1000 + the signal when a signal ended it
  std::string out;
  std::string err;
  long peak_kib = 0;   // the most memory the program held (its peak resident size)
};

struct TCliRunOptions {
  // Run as user nobody (through setpriv), so that folder permissions bind.
  bool as_nobody = false;
  // Called with the child's process id once it has started.
  std::function<void(pid_t)> while_running;
};

inline TCliRunOptions AsNobody() {
  TCliRunOptions options;
  options.as_nobody = true;
  return options;
}

inline TCliRunOptions WhileRunning(std::function<void(pid_t)> callback) {
  TCliRunOptions options;
  options.while_running = std::move(callback);
  return options;
}

// In a child process: replaces it with the command line and `args`, with
// `prefix` (a program and its arguments) in front when given. Exits 98 when
// the program cannot be started.
[[noreturn]] void ExecCli(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {});

// Runs the command line with `args` in `cwd` and waits for it.
TCliResult RunCli(const std::vector<std::string>& args, const std::string& cwd,
                  const TCliRunOptions& options = {});
