// The trace writer on a small bus of its own: the exact text of a dump, so that names, times and
// the "changes only" rule are pinned down where the whole-run test cannot see them.
#include "vcd_trace.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "pin_bus.h"

namespace {

// A device that never answers: it leaves SDA released.
class Silent : public sim::I2cDevice {
 public:
  explicit Silent(std::string name) : name_(std::move(name)) {}
  std::string_view name() const override { return name_; }
  bool on_address(std::uint8_t, sim::SimTime) override { return false; }
  bool on_byte_written(std::uint8_t, sim::SimTime) override { return false; }
  std::uint8_t on_byte_wanted(sim::SimTime) override { return 0xFF; }

 private:
  std::string name_;
};

std::string read_file(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string temp_path(const char* name) {
  return testing::TempDir() + name;
}

constexpr const char* kHeader =
    "$version ftd2xx simulator $end\n"
    "$comment one time unit is one adapter step of 1085069 ps (a pin-state byte); sda_* drives: 1 "
    "released, 0 pulling SDA low $end\n"
    "$timescale 1 us $end\n"
    "$scope module i2c $end\n"
    "$var wire 1 ! scl $end\n"
    "$var wire 1 \" sda $end\n"
    "$var wire 1 # sda_master $end\n"
    "$var wire 1 $ sda_thermo $end\n"
    "$var wire 1 % sda_thermo_2 $end\n"
    "$var wire 1 & sda_a_b $end\n"
    "$upscope $end\n"
    "$enddefinitions $end\n";

TEST(VcdTrace, WritesOnlyChangesAtTheirStepCountFromTheLevelsBeforeTheFirstStep) {
  sim::PinBus bus;
  bus.add_device(std::make_unique<Silent>("thermo"));
  bus.add_device(std::make_unique<Silent>("thermo"));
  bus.add_device(std::make_unique<Silent>("a-b"));
  bus.set_baud_rate(57'600);
  const std::string path = temp_path("changes.vcd");
  {
    std::string error;
    auto trace = sim::VcdTrace::create(path, bus, error);
    ASSERT_NE(trace, nullptr) << error;
    bus.set_observer(trace.get());
    bus.step(0x03);  // not in bit-bang mode yet: the pins do not move, the count goes on
    bus.set_bit_mode(0x03, 0x01);  // the idle bus, after one step: the initial values at #1
    for (const auto pins : std::array<std::uint8_t, 4>{0x03, 0x03, 0x01, 0x00}) bus.step(pins);
    // Another baud rate changes the step period, not the count.
    bus.set_baud_rate(9'600);
    for (const auto pins : std::array<std::uint8_t, 2>{0x02, 0x02}) bus.step(pins);
    // Leaving bit-bang mode lets SCL float up: a change without a step.
    bus.set_bit_mode(0x00, 0x00);
    bus.step(0x00);
    bus.set_observer(nullptr);
  }
  EXPECT_EQ(read_file(path), std::string(kHeader) +
                                 "#1\n$dumpvars\n1!\n1\"\n1#\n1$\n1%\n1&\n$end\n"
                                 "#4\n0\"\n0#\n"
                                 "#5\n0!\n"
                                 "#6\n1\"\n1#\n"
                                 "#7\n1!\n");
  std::remove(path.c_str());
}

TEST(VcdTrace, ATransactionReachesTheFileAtItsStopConditionNotBefore) {
  sim::PinBus bus;
  bus.set_baud_rate(57'600);
  bus.set_bit_mode(0x03, 0x01);
  const std::string path = temp_path("flush.vcd");
  std::string error;
  auto trace = sim::VcdTrace::create(path, bus, error);
  ASSERT_NE(trace, nullptr) << error;
  bus.set_observer(trace.get());
  auto apply = [&bus, &trace](std::initializer_list<std::uint8_t> steps) {
    for (const auto pins : steps) bus.step(pins);
    trace->flush_after_stop();
  };
  apply({0x02, 0x03, 0x01, 0x00});  // start condition
  EXPECT_EQ(read_file(path), "");
  apply({0x00, 0x01, 0x03, 0x02});  // stop condition
  const std::string at_stop = read_file(path);
  EXPECT_TRUE(at_stop.ends_with("#7\n1\"\n1#\n#8\n0!\n")) << at_stop;
  apply({0x02, 0x03, 0x01, 0x00});  // the next start waits for its stop
  EXPECT_EQ(read_file(path), at_stop);
  bus.set_observer(nullptr);
  trace.reset();
  std::remove(path.c_str());
}

TEST(VcdTrace, ATraceWithoutStepsIsStillAWholeHeader) {
  sim::PinBus bus;
  bus.add_device(std::make_unique<Silent>("thermo"));
  bus.add_device(std::make_unique<Silent>("thermo"));
  bus.add_device(std::make_unique<Silent>("a-b"));
  bus.set_baud_rate(57'600);
  const std::string path = temp_path("empty.vcd");
  {
    std::string error;
    ASSERT_NE(sim::VcdTrace::create(path, bus, error), nullptr) << error;
  }
  EXPECT_EQ(read_file(path), kHeader);
  std::remove(path.c_str());
}

TEST(VcdTrace, AFileThatCannotBeMadeIsReported) {
  sim::PinBus bus;
  std::string error;
  EXPECT_EQ(sim::VcdTrace::create("/nonexistent-dir/run.vcd", bus, error), nullptr);
  EXPECT_NE(error.find("/nonexistent-dir/run.vcd"), std::string::npos) << error;
}

}  // namespace
