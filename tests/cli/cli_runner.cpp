#include "cli/cli_runner.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fixtures/tree_writer.h"

void ExecCli(const std::vector<std::string>& args, const std::vector<std::string>& prefix) {
  std::vector<std::string> all = prefix;
  all.push_back(VELLUMCAST_CLI_PATH);
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(98);
}

TCliResult RunCli(const std::vector<std::string>& args, const std::string& cwd, const TCliRunOptions& options) {
  TScratchDir capture("vc-cli-out");
  const std::string out_path = capture.Join("out");
  const std::string err_path = capture.Join("err");
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Writable by nobody too, when the program runs as that user.
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(99);
    if (options.as_nobody) ExecCli(args, {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    ExecCli(args);
  }
  TCliResult result;
  if (pid < 0) return result;
  if (options.while_running) options.while_running(pid);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  result.peak_kib = usage.ru_maxrss;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  result.out = ReadFileBytes(out_path);
  result.err = ReadFileBytes(err_path);
  return result;
}
