// A whole tester run on the simulated adapter, traced to a Value Change Dump and decoded by an
// independent I2C decoder, sigrok-cli's "i2c": every transaction the tester puts on the wire must
// read back exactly as the tester's rules make it, with no decoder warning. Linux only (fork).
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bus_trace.h"
#include "process.h"
#include "sim_variables.h"

namespace {

namespace fs = std::filesystem;

// The tester's bus: 57,600 baud, 16 bit-bang steps per baud period; the simulator counts whole
// picoseconds, so one step lasts 1e12 / (16 x 57,600) ps rounded.
constexpr std::uint64_t kBaudRate = 57'600;
constexpr std::uint64_t kStepPs = (1'000'000'000'000 + 8 * kBaudRate) / (16 * kBaudRate);

// A short write cycle keeps the acknowledge polling to a few nacked polls per write.
constexpr std::uint64_t kWriteCycleUs = 105;
constexpr std::uint64_t kWriteCyclePs = kWriteCycleUs * 1'000'000;

// Acknowledge polling, counted in steps from the step where the stop condition's SDA rise starts
// the write cycle: the stop's last step, then polls of 31 steps each (start 4, address byte 24,
// bit input 3). The EEPROM decides somewhere between the end of a poll's start condition and its
// acknowledge clock, so a poll is surely refused when its acknowledge clock ends inside the write
// cycle and surely acknowledged when its address byte begins after it.
constexpr std::uint64_t kFirstPollStep = 2;
constexpr std::uint64_t kPollSteps = 4 + 24 + 3;
constexpr std::uint64_t kAddressBegins = 4;

constexpr bool poll_refused(std::uint64_t poll) {
  return (kFirstPollStep + (poll + 1) * kPollSteps) * kStepPs <= kWriteCyclePs;
}
constexpr bool poll_acknowledged(std::uint64_t poll) {
  return (kFirstPollStep + poll * kPollSteps + kAddressBegins) * kStepPs >= kWriteCyclePs;
}
constexpr int nacked_polls() {
  int polls = 0;
  while (poll_refused(static_cast<std::uint64_t>(polls))) ++polls;
  return polls;
}
constexpr int kNackedPolls = nacked_polls();
static_assert(kNackedPolls >= 2, "the decoder must see nacked polls, repeated starts among them");
static_assert(poll_acknowledged(kNackedPolls),
              "the write cycle ends inside a poll: the poll count would hang on the model");

constexpr int kAddresses = 32;

std::string hex(int byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
  return text;
}

// The transactions of a whole run, from the tester's rules: the bring-up (line check and a stop:
// a stop on an idle bus is no event for the decoder, which waits for a start first; the test of
// the raw trace checks it), three read passes and two write passes over addresses 0..31 of a
// blank EEPROM. Tokens as in bus_trace.h: the address byte with its R/W bit, "[FF]" a byte read.
std::vector<std::string> expected_run() {
  std::vector<std::string> run;
  auto add = [&run](std::initializer_list<std::string> tokens) {
    run.insert(run.end(), tokens.begin(), tokens.end());
  };
  auto random_read = [&](int address, int value) {
    add({"S", "A0", "ack", hex(address), "ack", "Sr", "A1", "ack", "[" + hex(value) + "]", "nack",
         "P"});
  };
  auto byte_write = [&](int address, int data) {
    add({"S", "A0", "ack", hex(address), "ack", hex(data), "ack", "P"});
    // Acknowledge polling: a new start directly after each refused poll, so every poll after the
    // first begins with a repeated start.
    for (int poll = 0; poll < kNackedPolls; ++poll) add({poll == 0 ? "S" : "Sr", "A0", "nack"});
    add({"Sr", "A0", "ack", "P"});
  };
  for (int a = 0; a < kAddresses; ++a) random_read(a, 0xFF);
  for (int a = 0; a < kAddresses; ++a) byte_write(a, 0xFF - a);
  for (int a = 0; a < kAddresses; ++a) random_read(a, 0xFF - a);
  for (int a = 0; a < kAddresses; ++a) byte_write(a, 0x00);
  for (int a = 0; a < kAddresses; ++a) random_read(a, 0x00);
  return run;
}

// Runs `argv` (looked for along PATH) as the test suite runs every program: in a new session
// without a terminal, standard input from /dev/null, none of the simulator's settings but `set`.
ProcessResult run(const std::vector<std::string>& argv,
                  const std::vector<std::pair<std::string, std::string>>& set) {
  ProcessOptions options;
  options.argv = argv;
  options.unset = kSimulatorVariables;
  options.set = set;
  return run_process(options);
}

std::string read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// One value of every signal after each timestamp of a dump (only what this test needs: scalar
// wires, one change per line).
struct Dump {
  std::string timescale;                       // "1 us"
  std::string comment;                         // the header's comment
  std::map<std::string, std::string> code_of;  // signal name -> identifier code
  std::vector<std::uint64_t> times;
  std::vector<std::map<std::string, char>> values;  // by identifier code, after each time
  std::string problem;                              // empty when the dump parsed
};

Dump parse_dump(const std::string& text) {
  Dump dump;
  std::istringstream lines(text);
  std::string line;
  bool body = false;
  std::map<std::string, char> current;
  while (std::getline(lines, line)) {
    if (!body) {
      std::istringstream words(line);
      std::string keyword, type, width, code, name;
      words >> keyword;
      if (keyword == "$var" && words >> type >> width >> code >> name) dump.code_of[name] = code;
      auto text_of = [&line](const std::string& head) {
        const auto end = line.rfind(" $end");
        return end == std::string::npos ? std::string()
                                        : line.substr(head.size(), end - head.size());
      };
      if (keyword == "$timescale") dump.timescale = text_of("$timescale ");
      if (keyword == "$comment") dump.comment = text_of("$comment ");
      if (keyword == "$enddefinitions") body = true;
      continue;
    }
    if (line.empty() || line[0] == '$') continue;  // $dumpvars, $end
    if (line[0] == '#') {
      if (!dump.times.empty()) dump.values.push_back(current);
      dump.times.push_back(std::strtoull(line.c_str() + 1, nullptr, 10));
    } else if ((line[0] == '0' || line[0] == '1') && line.size() > 1 && !dump.times.empty()) {
      current[line.substr(1)] = line[0];
    } else {
      dump.problem = "unexpected line '" + line + "'";
      return dump;
    }
  }
  if (!dump.times.empty()) dump.values.push_back(current);
  if (!body) dump.problem = "no $enddefinitions";
  return dump;
}

// The decoder's annotations as bus_trace.h tokens. Each address comes as the R/W bit ("Write",
// "Read") and then the address byte; anything else, a warning above all, becomes a '?' token.
std::vector<std::string> decoded_tokens(const std::string& annotations) {
  std::vector<std::string> tokens;
  std::istringstream lines(annotations);
  std::string line;
  std::string pending_rw;
  const std::string prefix = "i2c-1: ";
  while (std::getline(lines, line)) {
    if (line.rfind(prefix, 0) != 0) {
      tokens.push_back("?" + line);
      continue;
    }
    const std::string text = line.substr(prefix.size());
    auto value_after = [&text](const std::string& head) {
      return text.rfind(head, 0) == 0 ? text.substr(head.size()) : std::string();
    };
    if (text == "Write" || text == "Read") {
      pending_rw = text;
      continue;
    }
    if (text == "Start") {
      tokens.push_back("S");
    } else if (text == "Start repeat") {
      tokens.push_back("Sr");
    } else if (text == "Stop") {
      tokens.push_back("P");
    } else if (text == "ACK") {
      tokens.push_back("ack");
    } else if (text == "NACK") {
      tokens.push_back("nack");
    } else if (const auto byte = value_after("Address write: "); !byte.empty()) {
      tokens.push_back(pending_rw == "Write" ? byte : "?" + text + " without its W bit");
    } else if (const auto byte = value_after("Address read: "); !byte.empty()) {
      tokens.push_back(pending_rw == "Read" ? byte : "?" + text + " without its R bit");
    } else if (const auto byte = value_after("Data write: "); !byte.empty()) {
      tokens.push_back(byte);
    } else if (const auto byte = value_after("Data read: "); !byte.empty()) {
      tokens.push_back("[" + byte + "]");
    } else {
      tokens.push_back("?" + text);
    }
    pending_rw.clear();
  }
  return tokens;
}

class TracedRun : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/trace_decode_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    trace_ = dir_ / "run.vcd";
    const auto tester =
        run({TESTER_PATH}, {{"LD_LIBRARY_PATH", SIM_ADAPTER_DIR},
                            {"FTSIM_TRACE", trace_.string()},
                            {"FTSIM_DEVICES", "eeprom:write-us=" + std::to_string(kWriteCycleUs)}});
    tester_status_ = tester.exit_code;
    tester_output_ = tester.out;
    tester_errors_ = tester.err;
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void SetUp() override {
    ASSERT_EQ(tester_status_, 0) << tester_errors_;
    // The last text of a whole run: the run ended normally, through every pass.
    ASSERT_TRUE(tester_output_.ends_with("\nHit any key ")) << tester_output_;
  }

  static inline fs::path dir_;
  static inline fs::path trace_;
  static inline int tester_status_ = -1;
  static inline std::string tester_output_;
  static inline std::string tester_errors_;
};

TEST_F(TracedRun, TraceCountsStepsAndHasTheBusSignalsWithTheLineAsTheWiredAnd) {
  const Dump dump = parse_dump(read_file(trace_));
  ASSERT_TRUE(dump.problem.empty()) << dump.problem;
  // One time unit is one step; VCD has no unit of 1.085 us, so the header states the period.
  EXPECT_EQ(dump.timescale, "1 us");
  EXPECT_TRUE(dump.comment.starts_with("one time unit is one adapter step of " +
                                       std::to_string(kStepPs) + " ps"))
      << dump.comment;
  ASSERT_EQ(dump.code_of.size(), 4u);
  for (const char* name : {"scl", "sda", "sda_master", "sda_eeprom"}) {
    ASSERT_EQ(dump.code_of.count(name), 1u) << name;
  }
  const auto& scl = dump.code_of.at("scl");
  const auto& sda = dump.code_of.at("sda");
  const auto& master = dump.code_of.at("sda_master");
  const auto& eeprom = dump.code_of.at("sda_eeprom");
  ASSERT_FALSE(dump.times.empty());
  EXPECT_EQ(dump.values.front().size(), 4u) << "the first time must give every signal a value";

  int eeprom_pulls = 0;
  for (std::size_t i = 0; i < dump.times.size(); ++i) {
    if (i > 0) {
      ASSERT_GT(dump.times[i], dump.times[i - 1]);
    }
    const auto& v = dump.values[i];
    const bool line_low = v.at(master) == '0' || v.at(eeprom) == '0';
    ASSERT_EQ(v.at(sda), line_low ? '0' : '1') << "at #" << dump.times[i];
    if (v.at(eeprom) == '0' && (i == 0 || dump.values[i - 1].at(eeprom) == '1')) ++eeprom_pulls;
  }
  // The EEPROM acknowledges and sends data bytes.
  EXPECT_GT(eeprom_pulls, 100);

  // Time n is the bus after n pin-state bytes: the idle bus (both lines high) at 0, then the
  // bring-up, which the decoder does not report: line check high (0x02) and low (0x00), then the
  // stop condition 0x00 0x01 0x03 0x02 -- SCL falls after byte 1, SDA after byte 2, SCL rises
  // after byte 4, SDA after byte 5 while SCL is high, SCL falls after byte 6.
  const std::vector<std::pair<std::uint64_t, std::string>> bring_up{
      {0, "11"}, {1, "01"}, {2, "00"}, {4, "10"}, {5, "11"}, {6, "01"}};
  ASSERT_GE(dump.times.size(), bring_up.size());
  for (std::size_t i = 0; i < bring_up.size(); ++i) {
    EXPECT_EQ(dump.times[i], bring_up[i].first) << "change " << i;
    EXPECT_EQ(std::string() + dump.values[i].at(scl) + dump.values[i].at(sda), bring_up[i].second)
        << "SCL and SDA after change " << i;
  }
}

TEST_F(TracedRun, SigrokDecodesExactlyTheTestersTransactionsWithoutWarnings) {
  // sigrok's VCD import names each channel after the $var's reference name (scl, sda, ...) and
  // makes one sample per time unit of the dump, which is one step: no downsampling, and no edge
  // moves. The 8-bit ("unshifted") address format shows the address byte with its R/W bit, as the
  // tester sends it.
  const std::vector<std::string> command{
      "sigrok-cli",
      "-i",
      trace_.string(),
      "-P",
      "i2c:scl=scl:sda=sda:address_format=unshifted",
      "-A",
      "i2c=start:repeat-start:stop:ack:nack:address-read:address-write:data-read:data-write:"
      "warnings"};
  const auto decoder = run(command, {});
  ASSERT_NE(decoder.exit_code, 127)
      << "sigrok-cli is not installed (Debian package sigrok-cli; .ci/run installs it)";
  ASSERT_EQ(decoder.exit_code, 0) << decoder.err;
  EXPECT_EQ(decoder.err, "");

  const auto actual = decoded_tokens(decoder.out);
  const auto expected = expected_run();
  EXPECT_EQ(actual.size(), expected.size());
  const std::string difference = trace::describe_difference(expected, actual);
  EXPECT_TRUE(difference.empty()) << difference;
}

}  // namespace
