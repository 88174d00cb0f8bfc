#include "sim_bench.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "i2c_bus.h"
#include "sim_variables.h"

namespace {

std::string fresh_log_path() {
  static int counter = 0;
  const auto directory = std::filesystem::temp_directory_path();
  return (directory /
          ("ftsim-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".log"))
      .string();
}

}  // namespace

SimBench::SimBench(std::map<std::string, std::string> settings) : log_path_(fresh_log_path()) {
  for (const auto& name : kSimulatorVariables) ::unsetenv(name.c_str());
  settings["FTSIM_LOG"] = log_path_;
  for (const auto& [name, value] : settings) ::setenv(name.c_str(), value.c_str(), 1);
  init_result_ = I2C_Init();
}

SimBench::~SimBench() {
  std::error_code ignored;
  std::filesystem::remove(log_path_, ignored);
}

void SimBench::mark() {
  mark_ = trace::read_call_log(log_path_).size();
}

std::vector<trace::AdapterCall> SimBench::calls() const {
  auto all = trace::read_call_log(log_path_);
  all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(mark_, all.size())));
  return all;
}

std::vector<std::string> SimBench::transactions() const {
  return trace::decode_transactions(calls());
}

testing::AssertionResult same_transactions(const std::string& expected,
                                           const std::vector<std::string>& actual) {
  const auto difference = trace::describe_difference(trace::tokens(expected), actual);
  if (difference.empty()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << difference;
}
