#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

std::vector<std::string> child_environment(const ProcessOptions& options) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool drop = false;
    for (const auto& unset : options.unset) drop = drop || unset == name;
    for (const auto& [set, value] : options.set) drop = drop || set == name;
    if (!drop) env.push_back(text);
  }
  for (const auto& [name, value] : options.set) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

ProcessResult run_process(const ProcessOptions& options) {
  ProcessResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
  auto env_strings = child_environment(options);
  auto argv_strings = options.argv;
  auto env = pointers(env_strings);
  auto argv = pointers(argv_strings);

  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    switch (options.output) {
      case ProcessOptions::Output::kPipe:
        dup2(out_pipe[1], 1);
        break;
      case ProcessOptions::Output::kClosed:
        close(1);
        break;
      case ProcessOptions::Output::kBrokenPipe:
        close(out_pipe[0]);
        dup2(out_pipe[1], 1);
        break;
    }
    dup2(err_pipe[1], 2);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0) {
      _exit(126);
    }
    execvpe(argv[0], argv.data(), env.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (options.output == ProcessOptions::Output::kBrokenPipe) {
    close(out_pipe[0]);  // nobody reads: the child's writes fail with EPIPE
    out_pipe[0] = -1;
  }

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeout_ms);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  bool first = true;
  char buffer[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        continue;
      }
      if (i == 0 && first) {
        result.first_chunk = static_cast<std::size_t>(n);
        first = false;
      }
      (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.term_signal = WTERMSIG(status);
  return result;
}
