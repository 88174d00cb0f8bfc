// The thermometer operations against the simulated DS1621-style thermometer: the bus transaction
// of every operation, the high-resolution arithmetic, a device that stops acknowledging at each
// step, the one-shot configuration, and whole measurements above and below zero.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "celsius.h"
#include "i2c_bus.h"
#include "sim_bench.h"
#include "thermo.h"

namespace {

constexpr int kUntouched = 0x5A5A;  // an out-parameter value no operation produces

SimBench thermo_bench(const std::string& devices) {
  return SimBench({{"FTSIM_DEVICES", devices}});
}

int pin_reads(const SimBench& bench) {
  int reads = 0;
  for (const auto& call : bench.calls()) reads += call.entry == "FT_GetBitMode" ? 1 : 0;
  return reads;
}

// Polls until the conversion is done; the number of polls, or -1 when it never ends.
int wait_done(int device) {
  for (int polls = 1; polls <= 1000; ++polls) {
    int done = 0;
    if (THERMO_IsConversionDone(device, &done) != kThermoDone) return -1;
    if (done == 1) return polls;
  }
  return -1;
}

// One one-shot conversion.
void convert(int device) {
  ASSERT_EQ(THERMO_SetOneShot(device), kThermoDone);
  ASSERT_EQ(THERMO_StartConversion(device), kThermoDone);
  ASSERT_GT(wait_done(device), 0);
}

int as_degrees_256(int reading) {
  return static_cast<std::int16_t>(reading & 0xFFFF);
}

// --- Transactions -------------------------------------------------------------------------------

struct TransactionCase {
  const char* name;
  std::function<int(int* out)> run;
  const char* transaction;
  int pin_reads;
  int out;  // the out-parameter afterwards, kUntouched for operations without one
};

// Device 9 is device 1 (0x92 / 0x93). The thermometer holds 25.5 degrees from a finished
// one-shot conversion: configuration 0x81, temperature 0x19 0x80, slope 80 (0x50), counter 20
// (0x14).
TEST(ThermoTransactions, EveryOperationSendsItsTransaction) {
  const std::vector<TransactionCase> cases = {
      {"ReadConfig", [](int* out) { return THERMO_ReadConfig(9, out); },
       "S 92 ack AC ack Sr 93 ack [81] nack P", 12, 0x81},
      {"WriteConfig", [](int*) { return THERMO_WriteConfig(9, 0x102); }, "S 92 ack AC ack 02 ack P",
       3, kUntouched},
      {"StartConversion", [](int*) { return THERMO_StartConversion(9); }, "S 92 ack EE ack P", 2,
       kUntouched},
      {"IsConversionDone", [](int* out) { return THERMO_IsConversionDone(9, out); },
       "S 92 ack AC ack Sr 93 ack [81] nack P", 12, 1},
      {"ReadTemperature", [](int* out) { return THERMO_ReadTemperature(9, out); },
       "S 92 ack AA ack Sr 93 ack [19] ack [80] nack P", 19, 0x1980},
      {"ReadTemperatureFine", [](int* out) { return THERMO_ReadTemperatureFine(9, out); },
       "S 92 ack AA ack Sr 93 ack [19] nack "
       "Sr 92 ack A9 ack Sr 93 ack [50] nack "
       "Sr 92 ack A8 ack Sr 93 ack [14] nack P",
       33, 25 * 256 + 128},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bench = thermo_bench("thermo@1:temp=25.5:conv-us=1000");
    ASSERT_EQ(bench.init_result(), 0);
    convert(1);
    bench.mark();
    int out = kUntouched;
    EXPECT_EQ(c.run(&out), kThermoDone);
    EXPECT_TRUE(same_transactions(c.transaction, bench.transactions()));
    // The read of the configuration ends with a bit input as the master's not-acknowledge, the
    // temperature reads with a written not-acknowledge: the same on the wire, not on the adapter.
    EXPECT_EQ(pin_reads(bench), c.pin_reads);
    EXPECT_EQ(out, c.out);
  }
}

TEST(ThermoTransactions, WrittenConfigurationReadsBack) {
  auto bench = thermo_bench("thermo@6");
  ASSERT_EQ(bench.init_result(), 0);
  int config = kUntouched;
  ASSERT_EQ(THERMO_WriteConfig(6, 0x03), kThermoDone);
  ASSERT_EQ(THERMO_ReadConfig(6, &config), kThermoDone);
  EXPECT_EQ(config, 0x83);  // done (no conversion running), polarity, one-shot
  ASSERT_EQ(THERMO_WriteConfig(6, 0x00), kThermoDone);
  ASSERT_EQ(THERMO_ReadConfig(6, &config), kThermoDone);
  EXPECT_EQ(config, 0x80);
}

// --- Arithmetic ---------------------------------------------------------------------------------

struct ReadingCase {
  const char* thermo;  // options of the simulated thermometer (slope 80 unless set)
  int raw;
  int fine;
};

TEST(ThermoArithmetic, RawAndFineTemperatureFromTheRegisters) {
  const ReadingCase cases[] = {
      {"temp=25:counter=60", 0x1900, 25 * 256},        // fraction 64: whole degrees exactly
      {"temp=25:counter=79", 0x1900, 25 * 256 - 61},   // fraction 3
      {"temp=25:counter=81", 0x1900, 25 * 256 - 67},   // counter above slope: fraction -3
      {"temp=-1:counter=40", 0xFF00, 255 * 256 + 64},  // first byte 0xFF: -0.75, not sign-extended
      {"temp=25:slope=0:counter=7", 0x1900, 25 * 256 - 64},  // slope 0: no fraction
      {"temp=0:counter=80", 0x0000, -64},                    // first byte 0, fraction 0
      {"temp=25.5", 0x1980, 25 * 256 + 128},
      {"temp=-0.5", 0xFF80, 0xFF80},
      {"temp=-55", 0xC900, 0xC900},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.thermo);
    auto bench = thermo_bench(std::string("thermo:conv-us=1000:") + c.thermo);
    ASSERT_EQ(bench.init_result(), 0);
    convert(0);
    int raw = kUntouched;
    int fine = kUntouched;
    ASSERT_EQ(THERMO_ReadTemperature(0, &raw), kThermoDone);
    ASSERT_EQ(THERMO_ReadTemperatureFine(0, &fine), kThermoDone);
    EXPECT_EQ(raw, c.raw);
    EXPECT_EQ(fine, c.fine);
  }
}

// --- A device that stops acknowledging ----------------------------------------------------------

struct FailureCase {
  const char* name;
  std::function<int(int* out)> run;
  const char* transaction;  // complete, from a thermometer fresh from power-up
  int out_on_failure;
};

// The complete transaction cut at the device's (n+1)-th acknowledge, which becomes a
// not-acknowledge followed by the stop. Master acknowledges (after a byte read) do not count.
std::string cut_at_device_ack(const std::string& complete, int n) {
  const auto all = trace::tokens(complete);
  std::string cut;
  int device_acks = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const bool device_ack = all[i] == "ack" && i > 0 && all[i - 1][0] != '[';
    if (device_ack && device_acks++ == n) return cut + "nack P";
    cut += all[i] + " ";
  }
  return complete;
}

TEST(ThermoNotAcknowledged, EveryStepEndsWithStopAndResultOne) {
  const std::vector<FailureCase> cases = {
      {"ReadConfig", [](int* out) { return THERMO_ReadConfig(1, out); },
       "S 92 ack AC ack Sr 93 ack [80] nack P", 0},
      {"WriteConfig", [](int*) { return THERMO_WriteConfig(1, 0x01); }, "S 92 ack AC ack 01 ack P",
       kUntouched},
      {"SetOneShot", [](int*) { return THERMO_SetOneShot(1); },
       "S 92 ack AC ack Sr 93 ack [80] nack P S 92 ack AC ack 01 ack P", kUntouched},
      {"StartConversion", [](int*) { return THERMO_StartConversion(1); }, "S 92 ack EE ack P",
       kUntouched},
      {"IsConversionDone", [](int* out) { return THERMO_IsConversionDone(1, out); },
       "S 92 ack AC ack Sr 93 ack [80] nack P", 1},
      {"ReadTemperature", [](int* out) { return THERMO_ReadTemperature(1, out); },
       "S 92 ack AA ack Sr 93 ack [00] ack [00] nack P", kUntouched},
      {"ReadTemperatureFine", [](int* out) { return THERMO_ReadTemperatureFine(1, out); },
       "S 92 ack AA ack Sr 93 ack [00] nack "
       "Sr 92 ack A9 ack Sr 93 ack [00] nack "
       "Sr 92 ack A8 ack Sr 93 ack [00] nack P",
       kUntouched},
  };
  for (const auto& c : cases) {
    const auto complete = trace::tokens(c.transaction);
    int device_acks = 0;
    for (std::size_t i = 0; i < complete.size(); ++i) {
      device_acks += complete[i] == "ack" && i > 0 && complete[i - 1][0] != '[' ? 1 : 0;
    }
    for (int n = 0; n <= device_acks; ++n) {
      SCOPED_TRACE(std::string(c.name) + ", acknowledges " + std::to_string(n) + " bytes");
      auto bench = thermo_bench("thermo@1:nack-from=" + std::to_string(n + 1));
      ASSERT_EQ(bench.init_result(), 0);
      bench.mark();
      int out = kUntouched;
      const int result = c.run(&out);
      EXPECT_TRUE(same_transactions(cut_at_device_ack(c.transaction, n), bench.transactions()));
      if (n < device_acks) {
        EXPECT_EQ(result, kThermoNotAcknowledged);
        EXPECT_EQ(out, c.out_on_failure);
      } else {
        EXPECT_EQ(result, kThermoDone);
      }
    }
  }
}

TEST(ThermoNotAcknowledged, FailingPinReadsCountAsNotAcknowledged) {
  // The bring-up makes two pin reads; the third is the first acknowledge test.
  auto bench = SimBench({{"FTSIM_DEVICES", "thermo"}, {"FTSIM_FAULTS", "read-fail-from=3"}});
  ASSERT_EQ(bench.init_result(), 0);
  int config = kUntouched;
  int done = 0;
  int value = kUntouched;
  EXPECT_EQ(THERMO_ReadConfig(0, &config), kThermoNotAcknowledged);
  EXPECT_EQ(config, 0);
  EXPECT_EQ(THERMO_IsConversionDone(0, &done), kThermoNotAcknowledged);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(THERMO_ReadTemperatureFine(0, &value), kThermoNotAcknowledged);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(THERMO_SetOneShot(0), kThermoNotAcknowledged);
}

TEST(ThermoNotAcknowledged, OnlyTheAddressedThermometerAnswers) {
  auto bench = thermo_bench("thermo@0:temp=10:conv-us=1000,thermo@5:temp=-10:conv-us=1000");
  ASSERT_EQ(bench.init_result(), 0);
  convert(0);
  convert(5);
  int raw = kUntouched;
  ASSERT_EQ(THERMO_ReadTemperature(0, &raw), kThermoDone);
  EXPECT_EQ(raw, 0x0A00);
  ASSERT_EQ(THERMO_ReadTemperature(5, &raw), kThermoDone);
  EXPECT_EQ(raw, 0xF600);
  raw = kUntouched;
  EXPECT_EQ(THERMO_ReadTemperature(3, &raw), kThermoNotAcknowledged);
  EXPECT_EQ(raw, kUntouched);
}

// --- One-shot configuration ---------------------------------------------------------------------

struct OneShotCase {
  const char* thermo;
  bool converting;  // a (long) conversion runs, so the done bit reads 0
  int config;       // as SetOneShot reads it
  bool written;
};

TEST(ThermoOneShot, WrittenUnlessOneShotWithPolarityZero) {
  const OneShotCase cases[] = {
      {"thermo@1", false, 0x80, true},
      {"thermo@1:pol", false, 0x82, true},
      {"thermo@1:pol:one-shot", false, 0x83, true},
      {"thermo@1:one-shot", false, 0x81, false},
      {"thermo@1:one-shot", true, 0x01, false},
      {"thermo@1:pol:one-shot", true, 0x03, true},
      {"thermo@1", true, 0x00, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.thermo) + (c.converting ? ", converting" : ""));
    auto bench = thermo_bench(std::string(c.thermo) + ":conv-us=1000000");
    ASSERT_EQ(bench.init_result(), 0);
    if (c.converting) {
      ASSERT_EQ(THERMO_StartConversion(1), kThermoDone);
    }
    bench.mark();
    ASSERT_EQ(THERMO_SetOneShot(1), kThermoDone);
    char read[64];
    std::snprintf(read, sizeof read, "S 92 ack AC ack Sr 93 ack [%02X] nack P", c.config);
    const std::string expected = std::string(read) + (c.written ? " S 92 ack AC ack 01 ack P" : "");
    EXPECT_TRUE(same_transactions(expected, bench.transactions()));
    int config = kUntouched;
    ASSERT_EQ(THERMO_ReadConfig(1, &config), kThermoDone);
    EXPECT_EQ(config, (c.config & kThermoConfigConversionDone) | kThermoConfigOneShot);
  }
}

// --- Whole measurements -------------------------------------------------------------------------

struct MeasurementCase {
  const char* temp;
  double degrees;
  int raw;  // the temperature register: nearest half degree
};

TEST(ThermoMeasurement, OneShotReadingAboveAndBelowZero) {
  const MeasurementCase cases[] = {
      {"25", 25.0, 0x1900},       {"21.3", 21.3, 0x1580}, {"125", 125.0, 0x7D00},
      {"0.1", 0.1, 0x0000},       {"0", 0.0, 0x0000},     {"-0.1", -0.1, 0x0000},
      {"-0.25", -0.25, 0x0000},   {"-0.5", -0.5, 0xFF80}, {"-5.5", -5.5, 0xFA80},
      {"-12.34", -12.34, 0xF380}, {"-55", -55.0, 0xC900},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("temp=") + c.temp);
    // 2 ms of conversion; one done poll is 120 steps of 1.085 us.
    auto bench = thermo_bench(std::string("thermo@2:conv-us=2000:temp=") + c.temp);
    ASSERT_EQ(bench.init_result(), 0);
    ASSERT_EQ(THERMO_SetOneShot(2), kThermoDone);
    ASSERT_EQ(THERMO_StartConversion(2), kThermoDone);
    const int polls = wait_done(2);
    EXPECT_GE(polls, 14);
    EXPECT_LE(polls, 18);
    int raw = kUntouched;
    int fine = kUntouched;
    ASSERT_EQ(THERMO_ReadTemperature(2, &raw), kThermoDone);
    ASSERT_EQ(THERMO_ReadTemperatureFine(2, &fine), kThermoDone);
    EXPECT_EQ(raw, c.raw);
    // Never sign-extended: the 16-bit register, or -64..-1 just below a whole degree of 0.
    EXPECT_GE(fine, -64);
    EXPECT_LE(fine, 0xFFFF);
    // Within one count of the slope (1/80 degree).
    EXPECT_NEAR(as_degrees_256(fine) / 256.0, c.degrees, 1.0 / 80);
    // One-shot: no further conversion starts, the done flag stays.
    int done = 0;
    ASSERT_EQ(THERMO_IsConversionDone(2, &done), kThermoDone);
    EXPECT_EQ(done, 1);
  }
}

TEST(ThermoMeasurement, RegistersReadZeroUntilTheFirstConversionEnds) {
  auto bench = thermo_bench("thermo:temp=30:conv-us=1000");
  ASSERT_EQ(bench.init_result(), 0);
  int raw = kUntouched;
  ASSERT_EQ(THERMO_StartConversion(0), kThermoDone);
  ASSERT_EQ(THERMO_ReadTemperature(0, &raw), kThermoDone);
  EXPECT_EQ(raw, 0);
}

TEST(ThermoMeasurement, ContinuousConversionsRunUntilStopConvert) {
  auto bench = thermo_bench("thermo:temp=30:conv-us=1000");
  ASSERT_EQ(bench.init_result(), 0);
  ASSERT_EQ(THERMO_StartConversion(0), kThermoDone);
  for (int poll = 0; poll < 40; ++poll) {  // about five conversion times
    int done = 1;
    ASSERT_EQ(THERMO_IsConversionDone(0, &done), kThermoDone);
    ASSERT_EQ(done, 0);
  }
  int raw = kUntouched;
  ASSERT_EQ(THERMO_ReadTemperature(0, &raw), kThermoDone);
  EXPECT_EQ(raw, 0x1E00);
  // Stop convert (0x22): the device layer has no operation for it.
  I2C_Start();
  I2C_WriteByte(0x90);
  ASSERT_EQ(I2C_ReadBit(), 0);
  I2C_WriteByte(0x22);
  ASSERT_EQ(I2C_ReadBit(), 0);
  I2C_Stop();
  const int polls = wait_done(0);
  EXPECT_GE(polls, 1);
  EXPECT_LE(polls, 9);  // the conversion running at the stop ends within 1 ms
}

TEST(ThermoBench, BadThermometerSettingsKeepTheAdapterClosed) {
  for (const char* devices : {"thermo@8", "thermo:temp=125.5", "thermo:temp=-56", "thermo:temp=",
                              "thermo:conv-us=0", "thermo:slope=256", "thermo:counter=-1",
                              "thermo:one-shot=1", "thermo:nack-from=0", "thermo:colour=red"}) {
    SCOPED_TRACE(devices);
    auto bench = thermo_bench(devices);
    EXPECT_EQ(bench.init_result(), 1);
  }
}

// --- Printing a reading -------------------------------------------------------------------------

TEST(CelsiusText, SignedBelowZeroFromTheUnextendedRegister) {
  struct Case {
    int reading;
    int decimals;
    const char* text;
  };
  const Case cases[] = {
      {0x1980, 1, "25.5"},
      {0xFF00, 1, "-1.0"},
      {0xFF80, 1, "-0.5"},
      {0xFA80, 1, "-5.5"},
      {0x0000, 1, "0.0"},
      {0x7D00, 1, "125.0"},
      {0xC900, 1, "-55.0"},
      {-64, 2, "-0.25"},
      {255 * 256 + 64, 2, "-0.75"},
      {25 * 256 - 61, 2, "24.76"},
      {-1, 2, "0.00"},
      {0x1580 + 0x10000, 1, "21.5"},  // bits above the 16-bit register are ignored
  };
  for (const auto& c : cases) {
    EXPECT_EQ(celsius_text(c.reading, c.decimals), c.text) << "reading " << c.reading;
  }
}

}  // namespace
