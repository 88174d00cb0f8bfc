// The bus primitives against the simulated adapter: exact pin-state bytes, one write call per
// primitive, the bit input's two writes and one pin read, and the bring-up's call sequence with
// each of its failure exits.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "i2c_bus.h"
#include "sim_bench.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Settings = std::map<std::string, std::string>;

// One adapter call as the bring-up makes it: entry point, logged argument, bytes.
struct ExpectedCall {
  std::string entry;
  std::string argument;
  Bytes bytes;
};

// Open adapter 0, 57600 baud, outputs 0x03 in asynchronous bit-bang mode, the line check (SDA
// released, read back, SDA pulled low, read back), then a stop condition to leave the bus at rest.
const std::vector<ExpectedCall> kBringUp{
    {"FT_Open", "0", {}},
    {"FT_SetBaudRate", "57600", {}},
    {"FT_SetBitMode", "", {0x03, 0x01}},
    {"FT_Write", "", {0x02}},
    {"FT_GetBitMode", "", {}},
    {"FT_Write", "", {0x00}},
    {"FT_GetBitMode", "", {}},
    {"FT_Write", "", {0x00, 0x01, 0x03, 0x02}},
};

void expect_call(const trace::AdapterCall& actual, const ExpectedCall& expected, std::size_t i) {
  SCOPED_TRACE("adapter call " + std::to_string(i));
  EXPECT_EQ(actual.entry, expected.entry);
  EXPECT_EQ(actual.argument, expected.argument);
  EXPECT_EQ(actual.bytes, expected.bytes);
}

TEST(BusInit, HealthyAdapterBringsTheBusUpWithEightCalls) {
  SimBench bench;
  ASSERT_EQ(bench.init_result(), 0);
  const auto calls = bench.calls();
  ASSERT_EQ(calls.size(), 8u);
  EXPECT_EQ(calls[0].entry, "FT_Open");
  EXPECT_EQ(calls[1].entry, "FT_SetBaudRate");
  EXPECT_EQ(calls[1].argument, "57600");
  EXPECT_EQ(calls[7].bytes, (std::vector<std::uint8_t>{0x00, 0x01, 0x03, 0x02}));
  for (std::size_t i = 0; i < calls.size(); ++i) {
    expect_call(calls[i], kBringUp[i], i);
    EXPECT_EQ(calls[i].status, 0u) << "adapter call " << i;
  }
  // The line check reads back what was written on the SDA drive pin.
  EXPECT_NE(calls[4].pins & kPinSdaDrive, 0);
  EXPECT_EQ(calls[6].pins & kPinSdaDrive, 0);
}

// A failed bring-up: the calls made, the last of which is the failing one.
struct InitFailure {
  const char* faults;
  std::size_t calls;        // how many bring-up calls are made, the failing one included
  bool last_call_fails;     // false: the call succeeds but the pins read back wrong
  int sda_drive_read_back;  // for a wrong read-back: the level bit 1 showed
};

void PrintTo(const InitFailure& failure, std::ostream* out) {
  *out << failure.faults;
}

std::string test_name(std::string text) {
  for (auto& c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return text;
}

class BusInitFailure : public testing::TestWithParam<InitFailure> {};

TEST_P(BusInitFailure, StopsAtTheFailingCallAndLeavesTheAdapterAlone) {
  const auto& failure = GetParam();
  {
    // A bus that was up before must not stay usable after a failed bring-up.
    SimBench earlier;
    ASSERT_EQ(earlier.init_result(), 0);
  }
  SimBench bench(Settings{{"FTSIM_FAULTS", failure.faults}});
  EXPECT_EQ(bench.init_result(), 1);
  auto calls = bench.calls();
  ASSERT_EQ(calls.size(), failure.calls) << "nothing may be called after the failing call";
  for (std::size_t i = 0; i < calls.size(); ++i) expect_call(calls[i], kBringUp[i], i);
  const auto& last = calls.back();
  if (failure.last_call_fails) {
    EXPECT_NE(last.status, 0u);
  } else {
    EXPECT_EQ(last.status, 0u);
    ASSERT_EQ(last.entry, "FT_GetBitMode");
    EXPECT_EQ(last.pins & kPinSdaDrive, failure.sda_drive_read_back);
  }

  // The bus is not ready: no primitive reaches the adapter.
  EXPECT_NE(I2C_Start(), 0);
  EXPECT_NE(I2C_WriteByte(0xA0), 0);
  I2C_ReadBit();
  I2C_ReadSda();
  EXPECT_NE(I2C_Stop(), 0);
  EXPECT_EQ(bench.calls().size(), failure.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Exits, BusInitFailure,
    testing::Values(InitFailure{"no-adapter", 1, true, 0}, InitFailure{"baud-refused", 2, true, 0},
                    InitFailure{"bitmode-refused", 3, true, 0},
                    // SDA stuck low: the first check (released) reads the line low.
                    InitFailure{"sda-stuck-low", 5, false, 0},
                    // SDA stuck high: the second check (pulled low) reads the line high.
                    InitFailure{"sda-stuck-high", 7, false, kPinSdaDrive},
                    InitFailure{"write-fail-from=1", 4, true, 0},
                    InitFailure{"write-fail-from=2", 6, true, 0},
                    InitFailure{"read-fail-from=1", 5, true, 0},
                    InitFailure{"read-fail-from=2", 7, true, 0}),
    [](const auto& info) { return test_name(info.param.faults); });

// A write primitive and the pin-state bytes of its one write call.
struct WriteCase {
  const char* name;
  int (*call)();
  Bytes bytes;
};

const Bytes kZero{0x00, 0x01, 0x00};
const Bytes kOne{0x02, 0x03, 0x02};

Bytes bits(std::initializer_list<int> values) {
  Bytes out;
  for (const int bit : values)
    out.insert(out.end(), (bit ? kOne : kZero).begin(), (bit ? kOne : kZero).end());
  return out;
}

const std::array kWriteCases{
    WriteCase{"Start", [] { return I2C_Start(); }, {0x02, 0x03, 0x01, 0x00}},
    WriteCase{"Stop", [] { return I2C_Stop(); }, {0x00, 0x01, 0x03, 0x02}},
    WriteCase{"WriteByteA5", [] { return I2C_WriteByte(0xA5); }, bits({1, 0, 1, 0, 0, 1, 0, 1})},
    // Only bits 7..0 are sent.
    WriteCase{"WriteByte1A5", [] { return I2C_WriteByte(0x1A5); }, bits({1, 0, 1, 0, 0, 1, 0, 1})},
    WriteCase{"WriteByteMinus91", [] { return I2C_WriteByte(-91); },
              bits({1, 0, 1, 0, 0, 1, 0, 1})},
    WriteCase{"WriteByte01", [] { return I2C_WriteByte(0x01); }, bits({0, 0, 0, 0, 0, 0, 0, 1})},
    WriteCase{"WriteByte80", [] { return I2C_WriteByte(0x80); }, bits({1, 0, 0, 0, 0, 0, 0, 0})},
    // Only bit 0 of the argument counts: 0 and 2 acknowledge, 1 and 3 do not.
    WriteCase{"SendAck0", [] { return I2C_SendAck(0); }, kZero},
    WriteCase{"SendAck1", [] { return I2C_SendAck(1); }, kOne},
    WriteCase{"SendAck2", [] { return I2C_SendAck(2); }, kZero},
    WriteCase{"SendAck3", [] { return I2C_SendAck(3); }, kOne},
    WriteCase{"WritePins05", [] { return I2C_WritePins(0x05); }, {0x05}},
    WriteCase{"WritePins1FE", [] { return I2C_WritePins(0x1FE); }, {0xFE}},
};

void PrintTo(const WriteCase& c, std::ostream* out) {
  *out << c.name;
}

class WritePrimitive : public testing::TestWithParam<WriteCase> {};

TEST_P(WritePrimitive, IsOneWriteCallOfItsExactSteps) {
  SimBench bench(Settings{{"FTSIM_DEVICES", "none"}});
  ASSERT_EQ(bench.init_result(), 0);
  bench.mark();
  EXPECT_EQ(GetParam().call(), 0);
  const auto calls = bench.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].entry, "FT_Write");
  EXPECT_EQ(calls[0].bytes, GetParam().bytes);
}

TEST_P(WritePrimitive, ReturnsTheAdapterWriteStatus) {
  // The bring-up makes three writes; the fourth is the primitive's.
  SimBench bench(Settings{{"FTSIM_DEVICES", "none"}, {"FTSIM_FAULTS", "write-fail-from=4"}});
  ASSERT_EQ(bench.init_result(), 0);
  bench.mark();
  const int status = GetParam().call();
  const auto calls = bench.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].status, 0u);
  EXPECT_EQ(static_cast<unsigned long>(status), calls[0].status);
}

INSTANTIATE_TEST_SUITE_P(Primitives, WritePrimitive, testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Bit inputs: SDA released and SCL raised in one write, the pins read while SCL is high, SCL
// lowered in a second write.
void expect_bit_input(const std::vector<trace::AdapterCall>& calls, std::size_t first) {
  ASSERT_GE(calls.size(), first + 3);
  EXPECT_EQ(calls[first].entry, "FT_Write");
  EXPECT_EQ(calls[first].bytes, (Bytes{0x02, 0x03}));
  EXPECT_EQ(calls[first + 1].entry, "FT_GetBitMode");
  EXPECT_EQ(calls[first + 2].entry, "FT_Write");
  EXPECT_EQ(calls[first + 2].bytes, (Bytes{0x02}));
}

// The SDA line as the bit input and the line sense see it, with and without a device pulling it
// low and with failing pin reads, which count as a released line.
struct SdaCase {
  const char* name;
  const char* devices;
  const char* faults;
  bool address_eeprom;  // leave the EEPROM pulling SDA low for its acknowledge
  int expected;
};

const std::array kSdaCases{
    SdaCase{"EmptyBusReadsHigh", "none", "", false, 1},
    SdaCase{"AcknowledgingEepromReadsLow", "eeprom", "", true, 0},
    SdaCase{"UnaddressedEepromReadsHigh", "eeprom", "", false, 1},
    // Two pin reads in the bring-up; the third is the one under test.
    SdaCase{"FailedPinReadCountsAsReleased", "eeprom", "read-fail-from=3", true, 1},
};

void PrintTo(const SdaCase& c, std::ostream* out) {
  *out << c.name;
}

class SdaSample : public testing::TestWithParam<SdaCase> {
 protected:
  void SetUp() override {
    bench_.emplace(
        Settings{{"FTSIM_DEVICES", GetParam().devices}, {"FTSIM_FAULTS", GetParam().faults}});
    ASSERT_EQ(bench_->init_result(), 0);
    if (GetParam().address_eeprom) {
      I2C_Start();
      I2C_WriteByte(0xA0);  // the EEPROM pulls SDA low from the eighth falling clock edge
    }
    bench_->mark();
  }
  std::optional<SimBench> bench_;
};

TEST_P(SdaSample, ReadBitIsTwoWritesAroundOnePinRead) {
  EXPECT_EQ(I2C_ReadBit(), GetParam().expected);
  const auto calls = bench_->calls();
  ASSERT_EQ(calls.size(), 3u);
  expect_bit_input(calls, 0);
}

TEST_P(SdaSample, ReadSdaIsOnePinReadAndNoWrite) {
  EXPECT_EQ(I2C_ReadSda(), GetParam().expected);
  const auto calls = bench_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].entry, "FT_GetBitMode");
}

INSTANTIATE_TEST_SUITE_P(Primitives, SdaSample, testing::ValuesIn(kSdaCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An EEPROM image in a temporary file, removed with the fixture.
class ImageFile {
 public:
  explicit ImageFile(const std::array<std::uint8_t, 2048>& content)
      : path_((std::filesystem::temp_directory_path() /
               ("bus-test-image-" + std::to_string(::getpid()) + ".bin"))
                  .string()) {
    std::ofstream file(path_, std::ios::binary);
    file.write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
  }
  ~ImageFile() { std::filesystem::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(ReadByte, TakesEightBitInputsFirstBitMostSignificant) {
  constexpr std::array<std::uint8_t, 4> kBytes{0xA5, 0x00, 0xFF, 0x01};
  std::array<std::uint8_t, 2048> content{};
  content.fill(0xFF);
  for (std::size_t i = 0; i < kBytes.size(); ++i) content[i] = kBytes[i];
  const ImageFile image(content);
  SimBench bench(Settings{{"FTSIM_EEPROM_IMAGE", image.path()}});
  ASSERT_EQ(bench.init_result(), 0);
  // Point the EEPROM at address 0 and turn the transfer round.
  I2C_Start();
  I2C_WriteByte(0xA0);
  ASSERT_EQ(I2C_ReadBit(), 0);
  I2C_WriteByte(0x00);
  ASSERT_EQ(I2C_ReadBit(), 0);
  I2C_Start();
  I2C_WriteByte(0xA1);
  ASSERT_EQ(I2C_ReadBit(), 0);
  for (std::size_t i = 0; i < kBytes.size(); ++i) {
    bench.mark();
    EXPECT_EQ(I2C_ReadByte(), kBytes[i]) << "byte " << i;
    const auto calls = bench.calls();
    ASSERT_EQ(calls.size(), 24u);
    for (std::size_t bit = 0; bit < 8; ++bit) expect_bit_input(calls, 3 * bit);
    I2C_SendAck(i + 1 == kBytes.size() ? 1 : 0);
  }
  I2C_Stop();
}

TEST(ReadByte, FailedPinReadsGiveAllOnes) {
  SimBench bench(Settings{{"FTSIM_FAULTS", "read-fail-from=3"}});
  ASSERT_EQ(bench.init_result(), 0);
  EXPECT_EQ(I2C_ReadByte(), 0xFF);
}

}  // namespace
