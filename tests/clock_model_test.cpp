// The simulated clock on its own, fed with bus events at chosen simulated times: counting with
// its carries, the stop bit, the count held during a transaction, the register pointer, and the
// bench entry's options.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "bench.h"
#include "clock_model.h"

namespace {

using sim::ClockModel;
using sim::SimTime;

constexpr SimTime kMillisecond = 1'000'000'000;
constexpr SimTime kSecond = 1000 * kMillisecond;

class ClockModelTest : public testing::Test {
 protected:
  // A complete write transaction at `at`: register pointer, then the bytes.
  void write(SimTime at, std::uint8_t reg, std::initializer_list<std::uint8_t> bytes) {
    clock_.on_start(at);
    ASSERT_TRUE(clock_.on_address(0xA0, at));
    ASSERT_TRUE(clock_.on_byte_written(reg, at));
    for (const auto byte : bytes) ASSERT_TRUE(clock_.on_byte_written(byte, at));
    clock_.on_stop(at);
  }

  // Sets a time with the count stopped, then lets it count from `at`.
  void set_counting(SimTime at, std::initializer_list<std::uint8_t> hundredths_to_weekday) {
    write(at, 0x00, {0x80});
    write(at, 0x01, hundredths_to_weekday);
    write(at, 0x00, {0x00});
  }

  // Hundredths, seconds, minutes, hours, year/date and weekday/month at `at`.
  std::vector<int> time_at(SimTime at) {
    const auto& r = clock_.registers(at);
    return {r[1], r[2], r[3], r[4], r[5], r[6]};
  }

  ClockModel clock_{ClockModel::Options{}};
};

TEST_F(ClockModelTest, CountsWithEveryCarryUpToTheWeekday) {
  set_counting(0, {0x98, 0x59, 0x59, 0x23, 0x01, 0xC0});  // weekday 6, 23:59:59.98
  EXPECT_EQ(time_at(9 * kMillisecond), (std::vector<int>{0x98, 0x59, 0x59, 0x23, 0x01, 0xC0}));
  EXPECT_EQ(time_at(10 * kMillisecond), (std::vector<int>{0x99, 0x59, 0x59, 0x23, 0x01, 0xC0}));
  // The weekday wraps from 6 to 0; the month bits stay.
  EXPECT_EQ(time_at(20 * kMillisecond), (std::vector<int>{0x00, 0x00, 0x00, 0x00, 0x01, 0x00}));
  // Three days, one hour, one minute, one second and one hundredth later in one step.
  const SimTime later =
      20 * kMillisecond + ((3 * 24 + 1) * 3600 + 61) * kSecond + 10 * kMillisecond;
  EXPECT_EQ(time_at(later), (std::vector<int>{0x01, 0x01, 0x01, 0x01, 0x01, 0x60}));
}

TEST_F(ClockModelTest, LeftOverPartsOfAHundredthAreNotLost) {
  set_counting(0, {0x00, 0x00, 0x00, 0x00, 0x01, 0x00});
  for (SimTime t = 0; t <= kSecond; t += 3 * kMillisecond) time_at(t);
  EXPECT_EQ(time_at(kSecond), (std::vector<int>{0x00, 0x01, 0x00, 0x00, 0x01, 0x00}));
}

TEST_F(ClockModelTest, FrozenWhileTheStopBitIsSetAndCountsAgainFromItsClearing) {
  set_counting(0, {0x00, 0x30, 0x15, 0x10, 0x01, 0x20});
  write(2 * kSecond, 0x00, {0x80});
  EXPECT_EQ(time_at(60 * kSecond)[1], 0x32);
  write(60 * kSecond, 0x00, {0x00});
  EXPECT_EQ(time_at(60 * kSecond + 990 * kMillisecond)[1], 0x32);
  EXPECT_EQ(time_at(61 * kSecond)[1], 0x33);
}

TEST_F(ClockModelTest, HoldsTheCountDuringATransactionAndCountsItAfterwards) {
  set_counting(0, {0x99, 0x59, 0x00, 0x00, 0x01, 0x00});  // 00:00:59.99
  clock_.on_start(5 * kMillisecond);
  ASSERT_TRUE(clock_.on_address(0xA0, 5 * kMillisecond));
  ASSERT_TRUE(clock_.on_byte_written(0x02, 5 * kMillisecond));
  // The carry into the minutes falls due at 10 ms; the read still sees the time of the start.
  clock_.on_start(15 * kMillisecond);  // repeated start
  ASSERT_TRUE(clock_.on_address(0xA1, 15 * kMillisecond));
  EXPECT_EQ(clock_.on_byte_wanted(16 * kMillisecond), 0x59);
  EXPECT_EQ(clock_.on_byte_wanted(30 * kMillisecond), 0x00);
  clock_.on_stop(30 * kMillisecond);
  EXPECT_EQ(time_at(30 * kMillisecond), (std::vector<int>{0x02, 0x00, 0x01, 0x00, 0x01, 0x00}));
}

TEST_F(ClockModelTest, ValuesWrittenWhileCountingCountFromTheStop) {
  set_counting(0, {0x00, 0x00, 0x00, 0x00, 0x01, 0x00});
  clock_.on_start(3 * kSecond);
  ASSERT_TRUE(clock_.on_address(0xA0, 3 * kSecond));
  ASSERT_TRUE(clock_.on_byte_written(0x02, 3 * kSecond));
  ASSERT_TRUE(clock_.on_byte_written(0x40, 4 * kSecond));  // seconds := 40
  clock_.on_stop(5 * kSecond);
  EXPECT_EQ(time_at(5 * kSecond + 999 * kMillisecond)[1], 0x40);
  EXPECT_EQ(time_at(6 * kSecond)[1], 0x41);
}

TEST_F(ClockModelTest, KeepsTheHourFormatBits) {
  set_counting(0, {0x99, 0x59, 0x59, 0x83, 0x01, 0x00});
  EXPECT_EQ(time_at(10 * kMillisecond)[3], 0x84);
}

TEST_F(ClockModelTest, RegisterPointerAdvancesAndWraps) {
  write(0, 0xFE, {0x11, 0x22, 0x80});  // 0xFE, 0xFF, then register 0: stopped
  clock_.on_start(kSecond);
  ASSERT_TRUE(clock_.on_address(0xA0, kSecond));
  ASSERT_TRUE(clock_.on_byte_written(0xFE, kSecond));
  clock_.on_start(kSecond);
  ASSERT_TRUE(clock_.on_address(0xA1, kSecond));
  EXPECT_EQ(clock_.on_byte_wanted(kSecond), 0x11);
  EXPECT_EQ(clock_.on_byte_wanted(kSecond), 0x22);
  EXPECT_EQ(clock_.on_byte_wanted(kSecond), 0x80);
  clock_.on_stop(kSecond);
  // A read without a register address goes on where the last one stopped.
  clock_.on_start(kSecond);
  ASSERT_TRUE(clock_.on_address(0xA1, kSecond));
  EXPECT_EQ(clock_.on_byte_wanted(kSecond), 0x00);  // hundredths: frozen at 0
  clock_.on_stop(kSecond);
}

TEST(ClockModelAddress, AnswersOnlyItsOwnAddress) {
  ClockModel clock1{ClockModel::Options{1}};
  for (int byte = 0; byte < 256; ++byte) {
    const auto address = static_cast<std::uint8_t>(byte);
    clock1.on_start(0);
    EXPECT_EQ(clock1.on_address(address, 0), (byte & 0xFE) == 0xA2) << byte;
    clock1.on_stop(0);
  }
}

TEST(ClockBenchEntry, ParsesItsNumberAndOptions) {
  const struct {
    const char* devices;
    bool accepted;
  } cases[] = {
      {"clock", true},
      {"clock@0", true},
      {"clock@1:nack-from=3", true},
      {"clock@2", false},
      {"clock:nack-from=0", false},
      {"clock:nack-from=x", false},
      {"clock:speed=2", false},
      {"eeprom,clock@1", true},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto config = sim::parse_bench_config(
        [&](const char* name) -> std::optional<std::string> {
          if (std::string_view(name) == "FTSIM_DEVICES") return c.devices;
          return std::nullopt;
        },
        error);
    ASSERT_TRUE(config) << c.devices << ": " << error;
    const auto bus = sim::build_bus(*config, error);
    EXPECT_EQ(bus != nullptr, c.accepted) << c.devices << ": " << error;
  }
}

}  // namespace
