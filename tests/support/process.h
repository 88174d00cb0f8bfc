// Runs a program as a child process for end-to-end tests: a chosen environment, standard input
// from /dev/null, a new session without a controlling terminal (so the tester's key wait has no
// keyboard), standard output and error captured, and a time limit.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ProcessOptions {
  std::vector<std::string> argv;  // argv[0] without a slash is looked for along PATH
  // Variables set on top of the parent's environment, after `unset` removed the ones named there.
  std::vector<std::pair<std::string, std::string>> set;
  std::vector<std::string> unset;
  std::string working_directory;  // empty: the parent's
  enum class Output { kPipe, kClosed, kBrokenPipe } output = Output::kPipe;
  int timeout_ms = 120000;
};

struct ProcessResult {
  std::string out;
  std::string err;
  int exit_code = -1;   // -1 when the process did not exit normally; 127 when it could not start
  int term_signal = 0;  // the signal that ended it, 0 if none
  bool timed_out = false;
  // Size of the first chunk read from standard output: what reached the pipe in the first write.
  std::size_t first_chunk = 0;
};

ProcessResult run_process(const ProcessOptions& options);
