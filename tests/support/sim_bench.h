// In-process tests of the bus and device layers against the simulated adapter. A SimBench sets
// the simulator's environment variables, brings the bus up through the real run-time loading of
// libftd2xx.so (the simulated adapter opens a fresh bench on every FT_Open), and gives access to
// the adapter calls logged since a mark.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "bus_trace.h"

class SimBench {
 public:
  // `settings` maps FTSIM_* variables to values; FTSIM_LOG is set by the bench itself. Variables
  // not named are unset.
  explicit SimBench(std::map<std::string, std::string> settings = {});
  ~SimBench();
  SimBench(const SimBench&) = delete;
  SimBench& operator=(const SimBench&) = delete;

  // The result of I2C_Init.
  int init_result() const { return init_result_; }

  // Forgets the calls made so far: calls() and transactions() start from here.
  void mark();
  std::vector<trace::AdapterCall> calls() const;
  std::vector<std::string> transactions() const;
  std::size_t call_count() const { return calls().size(); }

  const std::string& log_path() const { return log_path_; }

 private:
  std::string log_path_;
  std::size_t mark_ = 0;
  int init_result_ = -1;
};

// gtest helper: EXPECT_TRUE(same_transactions("S A0 ack ...", bench.transactions())).
#include <gtest/gtest.h>
testing::AssertionResult same_transactions(const std::string& expected,
                                           const std::vector<std::string>& actual);
