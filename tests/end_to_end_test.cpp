// The tester run as a process against the simulated adapter library: the whole report byte for
// byte on every bench, exit status 0 whatever happens, and an EEPROM image that keeps what the
// run did not touch.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "eeprom.h"
#include "process.h"
#include "scenarios.h"
#include "sim_variables.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAddresses = 32;
const std::string kInitError = "Erreur a l'initialisation I2C\nHit any key ";

struct Read {
  int result;
  int value;
};
using ReadPass = std::function<Read(int address)>;
using WritePass = std::function<int(int address)>;

// The report the tester prints for five passes, built from the record layout: address in four
// hex digits, result digit, then the byte and a blank for reads or four blanks for writes.
std::string report(const ReadPass& first, const WritePass& pattern, const ReadPass& second,
                   const WritePass& zeros, const ReadPass& third) {
  auto reads = [](const ReadPass& pass) {
    std::string text;
    char record[16];
    for (int a = 0; a < kAddresses; ++a) {
      const Read r = pass(a);
      std::snprintf(record, sizeof record, "%04x %d %02x ", a, r.result, r.value);
      text += record;
    }
    return text;
  };
  auto writes = [](const WritePass& pass) {
    std::string text;
    char record[16];
    for (int a = 0; a < kAddresses; ++a) {
      std::snprintf(record, sizeof record, "%04x %d    ", a, pass(a));
      text += record;
    }
    return text;
  };
  return "Lecture initiale\n" + reads(first) + "\nEcriture\n" + writes(pattern) +
         "\nLecture du resultat\n" + reads(second) + "\nRe-ecriture\n" + writes(zeros) +
         "\nLecture du resultat\n" + reads(third) + "\nHit any key ";
}

// A healthy EEPROM whose first 32 bytes start as `initial`.
std::string healthy_report(const std::function<int(int)>& initial) {
  return report(
      [&](int a) {
        return Read{0, initial(a)};
      },
      [](int) { return 0; },
      [](int a) {
        return Read{0, 0xFF - a};
      },
      [](int) { return 0; },
      [](int) {
        return Read{0, 0x00};
      });
}

// Every operation fails from the read of address `first_failing` in the first pass on.
std::string failing_from_report(int first_failing) {
  const ReadPass failed = [](int) { return Read{1, 0x00}; };
  const WritePass not_acknowledged = [](int) { return 1; };
  return report(
      [&](int a) {
        return a < first_failing ? Read{0, 0xFF} : Read{1, 0x00};
      },
      not_acknowledged, failed, not_acknowledged, failed);
}

std::map<std::string, std::string> expected_reports() {
  const auto content = preloaded_content();
  const std::string all_failing = failing_from_report(0);
  return {
      {"blank_eeprom", healthy_report([](int) { return 0xFF; })},
      {"eeprom_with_content",
       healthy_report([&](int a) { return content[static_cast<std::size_t>(a)]; })},
      {"no_eeprom", all_failing},
      {"no_library", kInitError},
      {"missing_entry_point", kInitError},
      {"no_adapter", kInitError},
      {"baud_rate_refused", kInitError},
      {"bit_mode_refused", kInitError},
      {"sda_stuck_high", kInitError},
      {"sda_stuck_low", kInitError},
      {"unparsable_setting", kInitError},
      // A failed pin read is a released line: no acknowledge, so no made-up zeros.
      {"pin_reads_fail", failing_from_report(5)},
      // Writes that no longer reach the pins leave the bus at rest: nothing acknowledges.
      {"writes_fail", failing_from_report(5)},
      // The first write's data byte is taken, then the polling gives up at its cap.
      {"eeprom_stops_acknowledging", report(
                                         [](int) {
                                           return Read{0, 0xFF};
                                         },
                                         [](int) { return 1; },
                                         [](int) {
                                           return Read{1, 0x00};
                                         },
                                         [](int) { return 1; },
                                         [](int) {
                                           return Read{1, 0x00};
                                         })},
      {"slow_write_cycle", healthy_report([](int) { return 0xFF; })},
  };
}

// A scratch folder per test for the image, the call log and the partial library's mark.
class TesterRun : public testing::Test {
 protected:
  void SetUp() override {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
      if (c == '/') c = '.';
    }
    directory_ =
        fs::temp_directory_path() / ("eeprom-test-e2e-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  ProcessOptions options_for(const Scenario& scenario) {
    ProcessOptions options;
    options.argv = {EEPROM_TEST_EXE};
    options.unset = simulator_and_loader_variables();
    options.set = scenario.settings;
    switch (scenario.library) {
      case AdapterLibrary::kSimulated:
        options.set.emplace_back("LD_LIBRARY_PATH", SIM_ADAPTER_DIR);
        break;
      case AdapterLibrary::kPartial:
        options.set.emplace_back("LD_LIBRARY_PATH", PARTIAL_ADAPTER_DIR);
        options.set.emplace_back("PARTIAL_ADAPTER_MARK", mark_path().string());
        break;
      case AdapterLibrary::kNone:
        break;
    }
    if (scenario.preloaded_image) {
      const auto content = preloaded_content();
      std::ofstream(image_path(), std::ios::binary)
          .write(reinterpret_cast<const char*>(content.data()),
                 static_cast<std::streamsize>(content.size()));
      options.set.emplace_back("FTSIM_EEPROM_IMAGE", image_path().string());
    }
    options.set.emplace_back("FTSIM_LOG", log_path().string());
    return options;
  }

  fs::path image_path() const { return directory_ / "eeprom.bin"; }
  fs::path log_path() const { return directory_ / "calls.log"; }
  fs::path mark_path() const { return directory_ / "opened"; }

  fs::path directory_;
};

class EndToEnd : public TesterRun, public testing::WithParamInterface<Scenario> {};

TEST_P(EndToEnd, PrintsTheReportByteForByteAndExitsWithZero) {
  const Scenario& scenario = GetParam();
  const auto expected = expected_reports();
  const auto wanted = expected.find(scenario.name);
  ASSERT_NE(wanted, expected.end()) << "no expected report for " << scenario.name;

  const ProcessResult run = run_process(options_for(scenario));
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.term_signal, 0);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, wanted->second);
}

INSTANTIATE_TEST_SUITE_P(Benches, EndToEnd, testing::ValuesIn(end_to_end_scenarios()),
                         [](const auto& info) { return info.param.name; });

const Scenario& scenario_named(const std::string& name) {
  static const auto all = end_to_end_scenarios();
  for (const auto& scenario : all) {
    if (scenario.name == name) return scenario;
  }
  std::abort();
}

std::string read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::size_t count_lines_with(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(TesterRun, ImageKeepsEverythingButTheBytesWritten) {
  const ProcessResult run = run_process(options_for(scenario_named("eeprom_with_content")));
  ASSERT_EQ(run.exit_code, 0);
  const std::string image = read_file(image_path());
  ASSERT_EQ(image.size(), 2048u);
  const auto content = preloaded_content();
  for (std::size_t i = 0; i < image.size(); ++i) {
    const auto expected = i < kAddresses ? std::uint8_t{0} : content[i];
    ASSERT_EQ(static_cast<std::uint8_t>(image[i]), expected) << "at address " << i;
  }
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(directory_, ignored)) {
    EXPECT_TRUE(entry.path() == image_path() || entry.path() == log_path())
        << "left behind: " << entry.path();
  }
}

TEST_F(TesterRun, HealthyRunCostsEightBringUpCallsAndTheOperationsExactly) {
  // With a write cycle of zero every write is acknowledged at its first poll: 20 calls each.
  Scenario scenario = scenario_named("blank_eeprom");
  scenario.settings = {{"FTSIM_DEVICES", "eeprom:write-us=0"}};
  const ProcessResult run = run_process(options_for(scenario));
  ASSERT_EQ(run.exit_code, 0);
  const std::string log = read_file(log_path());
  const std::size_t calls = count_lines_with(log, " : ");
  EXPECT_EQ(calls, 8u + 96u * 42u + 64u * 20u);
  EXPECT_NE(log.find("# 5320 calls"), std::string::npos) << "the summary line counts the calls";
}

TEST_F(TesterRun, MissingEntryPointStopsTheBringUpBeforeOpeningAnything) {
  Scenario scenario = scenario_named("blank_eeprom");
  scenario.library = AdapterLibrary::kPartial;
  const ProcessResult run = run_process(options_for(scenario));
  EXPECT_EQ(run.out, kInitError);
  EXPECT_FALSE(fs::exists(mark_path())) << "FT_Open was called although entry points are missing";
}

TEST_F(TesterRun, UnparsableSettingIsReportedOnStandardError) {
  Scenario scenario = scenario_named("blank_eeprom");
  scenario.settings = {{"FTSIM_DEVICES", "eeprom:write-us=soon"}};
  const ProcessResult run = run_process(options_for(scenario));
  EXPECT_EQ(run.out, kInitError);
  EXPECT_NE(run.err.find("write-us"), std::string::npos) << run.err;
}

TEST_F(TesterRun, PollingCapEndsAWriteToADeadEepromAfterTheCap) {
  Scenario scenario = scenario_named("blank_eeprom");
  scenario.settings = {{"FTSIM_FAULTS", "eeprom-stops-ack"}};
  const ProcessResult run = run_process(options_for(scenario));
  ASSERT_EQ(run.exit_code, 0);
  // Every poll writes a start condition; the first write is the only one that polls.
  const std::string log = read_file(log_path());
  const std::size_t starts = count_lines_with(log, "FT_Write 02 03 01 00 :");
  // 32 reads with two starts each, then the write: one start, the polls; then 127 operations
  // that fail at their first acknowledge (one start each, two for nothing else).
  EXPECT_EQ(starts, 32u * 2u + 1u + static_cast<std::size_t>(kEepromMaxPolls) + 127u);
}

TEST_F(TesterRun, ClosedStandardOutputNeitherCrashesNorChangesItsStatus) {
  ProcessOptions options = options_for(scenario_named("blank_eeprom"));
  options.output = ProcessOptions::Output::kClosed;
  const ProcessResult run = run_process(options);
  EXPECT_EQ(run.term_signal, 0);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(read_file(log_path()).find("# 52680 calls"), std::string::npos)
      << "the run went on to the end";
}

TEST_F(TesterRun, BrokenPipeNeitherKillsTheTesterNorChangesItsStatus) {
  ProcessOptions options = options_for(scenario_named("blank_eeprom"));
  options.output = ProcessOptions::Output::kBrokenPipe;
  const ProcessResult run = run_process(options);
  EXPECT_EQ(run.term_signal, 0);
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(TesterRun, OutputToAPipeArrivesWholeAtTheEnd) {
  // Fully buffered: the whole report, shorter than the 4,096-byte buffer, leaves in one write
  // at exit, even though the run takes a while on a slow adapter.
  Scenario scenario = scenario_named("blank_eeprom");
  scenario.settings = {{"FTSIM_CALL_DELAY_US", "20"}};
  const ProcessResult run = run_process(options_for(scenario));
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.first_chunk, run.out.size());
  EXPECT_EQ(run.out, healthy_report([](int) { return 0xFF; }));
}

}  // namespace
