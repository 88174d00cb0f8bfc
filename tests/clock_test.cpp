// Clock/calendar operations against simulated clocks: the transactions on the bus, clamping and
// BCD encoding, decoding without validation, the round trip of every field value, and missing
// acknowledges at each step.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "clock.h"
#include "i2c_bus.h"
#include "sim_bench.h"

namespace {

using Settings = std::map<std::string, std::string>;

struct TimeRead {
  int weekday = -1;
  int hours = -1;
  int minutes = -1;
  int seconds = -1;
  int result = -1;
};

TimeRead get_time(int device) {
  TimeRead t;
  t.result = CLOCK_GetTime(device, &t.weekday, &t.hours, &t.minutes, &t.seconds);
  return t;
}

// The first transaction of setting 3, 14:05:09 on device 0, byte by byte.
const char* const kSetTimeFirst =
    "S A0 ack 00 ack 80 ack 00 ack 09 ack 05 ack 14 ack 01 ack 60 ack P";
const char* const kRestart = "S A0 ack 00 ack 00 ack P";

TEST(ClockTransactions, EachOperationAsOnTheBus) {
  SimBench bench(Settings{{"FTSIM_DEVICES", "clock@0,clock@1"}});
  ASSERT_EQ(bench.init_result(), 0);

  bench.mark();
  EXPECT_EQ(CLOCK_Start(0), kClockDone);
  EXPECT_TRUE(same_transactions("S A0 ack 00 ack 00 ack P", bench.transactions()));

  bench.mark();
  EXPECT_EQ(CLOCK_SetTime(0, 3, 14, 5, 9), kClockDone);
  EXPECT_TRUE(same_transactions(std::string(kSetTimeFirst) + " " + kRestart, bench.transactions()));

  bench.mark();
  const auto time = get_time(0);
  EXPECT_EQ(time.result, kClockDone);
  EXPECT_TRUE(
      same_transactions("S A0 ack 02 ack Sr A1 ack [09] ack [05] ack [14] ack [01] ack [60] nack P",
                        bench.transactions()));
  EXPECT_EQ(time.seconds, 9);
  EXPECT_EQ(time.minutes, 5);
  EXPECT_EQ(time.hours, 14);
  EXPECT_EQ(time.weekday, 3);

  // Register and value are cut to 8 bits; device 1 is the clock with A0 = 1.
  bench.mark();
  EXPECT_EQ(CLOCK_WriteRegister(1, 0x110, 0x1AB), kClockDone);
  EXPECT_TRUE(same_transactions("S A2 ack 10 ack AB ack P", bench.transactions()));

  bench.mark();
  int value = -1;
  EXPECT_EQ(CLOCK_ReadRegister(1, 0x210, &value), kClockDone);
  EXPECT_TRUE(same_transactions("S A2 ack 10 ack Sr A3 ack [AB] nack P", bench.transactions()));
  EXPECT_EQ(value, 0xAB);
}

TEST(ClockTransactions, OnlyBitZeroOfTheDeviceNumberSelectsTheClock) {
  SimBench bench(Settings{{"FTSIM_DEVICES", "clock@0,clock@1"}});
  ASSERT_EQ(bench.init_result(), 0);
  const struct {
    int device;
    const char* address;
  } cases[] = {{0, "A0"}, {1, "A2"}, {2, "A0"}, {3, "A2"}, {-1, "A2"}, {0x100, "A0"}};
  for (const auto& c : cases) {
    SCOPED_TRACE("device " + std::to_string(c.device));
    bench.mark();
    EXPECT_EQ(CLOCK_Start(c.device), kClockDone);
    EXPECT_TRUE(same_transactions(std::string("S ") + c.address + " ack 00 ack 00 ack P",
                                  bench.transactions()));
  }
}

// Clamping into range and BCD encoding, as written by CLOCK_SetTime and read back.
TEST(ClockSetTime, ClampsAndEncodesEachField) {
  SimBench bench(Settings{{"FTSIM_DEVICES", "clock@0,clock@1"}});
  ASSERT_EQ(bench.init_result(), 0);
  const struct {
    int device, weekday, hours, minutes, seconds;
    const char* sent;  // after the address: seconds, minutes, hours, then weekday/month
    int read_weekday, read_hours, read_minutes, read_seconds;
  } cases[] = {
      {0, 3, 14, 5, 9, "A0 09 05 14 60", 3, 14, 5, 9},
      {1, 9, 30, 75, -4, "A2 00 59 23 C0", 6, 23, 59, 0},
      {0, 0, 0, 0, 0, "A0 00 00 00 00", 0, 0, 0, 0},
      {0, 6, 23, 59, 59, "A0 59 59 23 C0", 6, 23, 59, 59},
      {0, 7, 24, 60, 60, "A0 59 59 23 C0", 6, 23, 59, 59},
      {0, -1, -1, -1, -1, "A0 00 00 00 00", 0, 0, 0, 0},
      {0, 1, 10, 19, 20, "A0 20 19 10 20", 1, 10, 19, 20},
      {0, INT_MAX, INT_MAX, INT_MAX, INT_MAX, "A0 59 59 23 C0", 6, 23, 59, 59},
      {0, INT_MIN, INT_MIN, INT_MIN, INT_MIN, "A0 00 00 00 00", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.device) + ": " + std::to_string(c.weekday) + ", " +
                 std::to_string(c.hours) + ":" + std::to_string(c.minutes) + ":" +
                 std::to_string(c.seconds));
    bench.mark();
    ASSERT_EQ(CLOCK_SetTime(c.device, c.weekday, c.hours, c.minutes, c.seconds), kClockDone);
    const auto sent = trace::tokens(c.sent);
    const auto address = sent[0];
    const std::string expected = "S " + address + " ack 00 ack 80 ack 00 ack " + sent[1] + " ack " +
                                 sent[2] + " ack " + sent[3] + " ack 01 ack " + sent[4] +
                                 " ack P S " + address + " ack 00 ack 00 ack P";
    EXPECT_TRUE(same_transactions(expected, bench.transactions()));
    const auto time = get_time(c.device);
    EXPECT_EQ(time.result, kClockDone);
    EXPECT_EQ(time.weekday, c.read_weekday);
    EXPECT_EQ(time.hours, c.read_hours);
    EXPECT_EQ(time.minutes, c.read_minutes);
    EXPECT_EQ(time.seconds, c.read_seconds);
  }
}

// Every value a field can be set to comes back unchanged through the clock's registers.
TEST(ClockSetTime, EveryFieldValueRoundTripsThroughTheClock) {
  SimBench bench(Settings{{"FTSIM_DEVICES", "clock@1"}});
  ASSERT_EQ(bench.init_result(), 0);
  for (int v = 0; v <= 59; ++v) {
    SCOPED_TRACE("value " + std::to_string(v));
    ASSERT_EQ(CLOCK_SetTime(1, v % 7, v % 24, v, 59 - v), kClockDone);
    const auto time = get_time(1);
    ASSERT_EQ(time.result, kClockDone);
    EXPECT_EQ(time.weekday, v % 7);
    EXPECT_EQ(time.hours, v % 24);
    EXPECT_EQ(time.minutes, v);
    EXPECT_EQ(time.seconds, 59 - v);
  }
}

// Register bytes put in raw, with the clock stopped so that they stay as written.
TEST(ClockGetTime, DecodesWithoutCheckingTheDigits) {
  SimBench bench(Settings{{"FTSIM_DEVICES", "clock@0"}});
  ASSERT_EQ(bench.init_result(), 0);
  const struct {
    int seconds_byte, minutes_byte, hours_byte, weekday_month_byte;
    int weekday, hours, minutes, seconds;
  } cases[] = {
      {0x45, 0x30, 0x92, 0xA7, 5, 12, 30, 45},  // hours: the two format bits are ignored
      {0xFF, 0x5A, 0x3F, 0xFF, 7, 45, 60, 165},
      {0x00, 0x00, 0xC0, 0x1F, 0, 0, 0, 0},
      {0x59, 0x59, 0x23, 0xE0, 7, 23, 59, 59},
  };
  ASSERT_EQ(CLOCK_WriteRegister(0, 0, 0x80), kClockDone);
  for (const auto& c : cases) {
    SCOPED_TRACE("seconds byte " + std::to_string(c.seconds_byte));
    ASSERT_EQ(CLOCK_WriteRegister(0, 2, c.seconds_byte), kClockDone);
    ASSERT_EQ(CLOCK_WriteRegister(0, 3, c.minutes_byte), kClockDone);
    ASSERT_EQ(CLOCK_WriteRegister(0, 4, c.hours_byte), kClockDone);
    ASSERT_EQ(CLOCK_WriteRegister(0, 5, 0x5A), kClockDone);  // year/date: not part of the time
    ASSERT_EQ(CLOCK_WriteRegister(0, 6, c.weekday_month_byte), kClockDone);
    const auto time = get_time(0);
    EXPECT_EQ(time.result, kClockDone);
    EXPECT_EQ(time.weekday, c.weekday);
    EXPECT_EQ(time.hours, c.hours);
    EXPECT_EQ(time.minutes, c.minutes);
    EXPECT_EQ(time.seconds, c.seconds);
  }
}

// The clock stops acknowledging from its n-th byte on (the address byte is byte 1).
Settings clock_failing_at(int n) {
  return {{"FTSIM_DEVICES", "clock@0:nack-from=" + std::to_string(n)}};
}

// The expected transaction cut at the n-th byte, which is not acknowledged, then the stop.
std::string cut_at(const std::string& full, int n) {
  std::string out;
  int bytes = 0;
  for (const auto& token : trace::tokens(full)) {
    if (!out.empty()) out += ' ';
    if (token == "ack" && ++bytes == n) return out + "nack P";
    out += token;
  }
  return out;
}

TEST(ClockNotAcknowledged, ReadsKeepTheirOutputsAtZero) {
  const std::string get_time_transaction =
      "S A0 ack 02 ack Sr A1 ack [00] ack [00] ack [00] ack [01] ack [01] nack P";
  const std::string read_register_transaction = "S A0 ack 05 ack Sr A1 ack [01] nack P";
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE("byte " + std::to_string(n) + " not acknowledged");
    {
      SimBench bench(clock_failing_at(n));
      ASSERT_EQ(bench.init_result(), 0);
      bench.mark();
      const auto time = get_time(0);
      EXPECT_EQ(time.result, kClockNotAcknowledged);
      EXPECT_EQ(time.weekday, 0);
      EXPECT_EQ(time.hours, 0);
      EXPECT_EQ(time.minutes, 0);
      EXPECT_EQ(time.seconds, 0);
      EXPECT_TRUE(same_transactions(cut_at(get_time_transaction, n), bench.transactions()));
    }
    {
      SimBench bench(clock_failing_at(n));
      ASSERT_EQ(bench.init_result(), 0);
      bench.mark();
      int value = -1;
      EXPECT_EQ(CLOCK_ReadRegister(0, 5, &value), kClockNotAcknowledged);
      EXPECT_EQ(value, 0);
      EXPECT_TRUE(same_transactions(cut_at(read_register_transaction, n), bench.transactions()));
    }
  }
}

TEST(ClockNotAcknowledged, WritesReportEveryMissingAcknowledge) {
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE("byte " + std::to_string(n) + " not acknowledged");
    {
      SimBench bench(clock_failing_at(n));
      ASSERT_EQ(bench.init_result(), 0);
      bench.mark();
      EXPECT_EQ(CLOCK_Start(0), kClockNotAcknowledged);
      EXPECT_TRUE(same_transactions(cut_at(kRestart, n), bench.transactions()));
    }
    {
      SimBench bench(clock_failing_at(n));
      ASSERT_EQ(bench.init_result(), 0);
      bench.mark();
      EXPECT_EQ(CLOCK_WriteRegister(0, 0x20, 0x5A), kClockNotAcknowledged);
      EXPECT_TRUE(same_transactions(cut_at("S A0 ack 20 ack 5A ack P", n), bench.transactions()));
    }
  }
}

// Bytes 1..9 make up the first transaction, 10..12 the restart.
TEST(ClockNotAcknowledged, SetTimeRestartsOnlyAfterACompleteFirstTransaction) {
  for (int n = 1; n <= 12; ++n) {
    SCOPED_TRACE("byte " + std::to_string(n) + " not acknowledged");
    SimBench bench(clock_failing_at(n));
    ASSERT_EQ(bench.init_result(), 0);
    bench.mark();
    EXPECT_EQ(CLOCK_SetTime(0, 3, 14, 5, 9), kClockNotAcknowledged);
    const std::string expected = n <= 9
                                     ? cut_at(kSetTimeFirst, n)
                                     : std::string(kSetTimeFirst) + " " + cut_at(kRestart, n - 9);
    EXPECT_TRUE(same_transactions(expected, bench.transactions()));
  }
}

// A clock at 0xA0 next to the 24C16, which answers there too: both acknowledge, both drive SDA,
// and a read gives the AND of their two bytes.
TEST(ClockBesideEeprom, AReadGivesTheAndOfBothDevices) {
  const auto image = std::filesystem::temp_directory_path() /
                     ("clock-test-eeprom-" + std::to_string(::getpid()) + ".bin");
  {
    std::vector<char> bytes(2048, static_cast<char>(0xFF));
    bytes[5] = static_cast<char>(0xF0);  // the clock's year/date register holds 0x01
    std::ofstream(image, std::ios::binary).write(bytes.data(), 2048);
  }
  SimBench bench(
      Settings{{"FTSIM_DEVICES", "eeprom,clock@0"}, {"FTSIM_EEPROM_IMAGE", image.string()}});
  ASSERT_EQ(bench.init_result(), 0);
  int value = -1;
  EXPECT_EQ(CLOCK_ReadRegister(0, 5, &value), kClockDone);
  EXPECT_EQ(value, 0x00);
  std::filesystem::remove(image);
}

}  // namespace
