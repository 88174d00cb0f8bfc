// The EEPROM operations on the simulated bus, stated as the bus transactions they make: address
// bytes and masking, result codes and out-parameters, a missing acknowledge at each step,
// acknowledge polling against the write-cycle time, and the cap on polling.
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

#include "eeprom.h"
#include "i2c_bus.h"
#include "sim_bench.h"

namespace {

using Settings = std::map<std::string, std::string>;

// Adapter calls: start 1, stop 1, a byte out 1, a bit input 3.
constexpr std::size_t kRandomReadCalls = 1 + 4 + 4 + 1 + 4 + 8 * 3 + 3 + 1;
constexpr std::size_t kByteWriteCalls = 1 + 4 + 4 + 4 + 1;  // up to the stop after the data byte
constexpr std::size_t kPollCalls = 1 + 1 + 3;               // start, device address, bit input
static_assert(kRandomReadCalls == 42);
static_assert(kByteWriteCalls + kPollCalls + 1 == 20);

std::string hex(int byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
  return text;
}

// A distinct content for every cell, different between blocks for the same word address.
std::uint8_t pattern(int cell) {
  return static_cast<std::uint8_t>(cell * 7 + (cell >> 8) * 0x55 + 0x13);
}

// An EEPROM image filled with pattern(), in a temporary file removed with the object.
class PatternImage {
 public:
  PatternImage()
      : path_((std::filesystem::temp_directory_path() /
               ("eeprom-ops-test-" + std::to_string(::getpid()) + ".bin"))
                  .string()) {
    std::ofstream file(path_, std::ios::binary);
    for (int cell = 0; cell < 2048; ++cell) file.put(static_cast<char>(pattern(cell)));
  }
  ~PatternImage() { std::filesystem::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string random_read(int write_address, int word, int value) {
  return "S " + hex(write_address) + " ack " + hex(word) + " ack Sr " + hex(write_address + 1) +
         " ack [" + hex(value) + "] nack P";
}

// A byte write whose device is busy for `busy_polls` polls and then acknowledges.
std::string byte_write(int write_address, int word, int data, int busy_polls) {
  const std::string address = hex(write_address);
  std::string text =
      "S " + address + " ack " + hex(word) + " ack " + hex(data) + " ack P S " + address;
  for (int poll = 0; poll < busy_polls; ++poll) text += " nack Sr " + address;
  return text + " ack P";
}

// --- Device-address bytes and address masking ----------------------------------------------

struct AddressCase {
  int address;
  int write_address;  // device-address byte, write form
  int word;           // word address on the bus
  int cell;           // the memory cell reached
};

void PrintTo(const AddressCase& c, std::ostream* out) {
  *out << "address 0x" << std::hex << c.address;
}

class EepromAddress : public testing::TestWithParam<AddressCase> {
 protected:
  void SetUp() override { EEPROM_SelectType(2); }
  PatternImage image_;
};

TEST_P(EepromAddress, RandomReadSelectsBlockAndWordIn42Calls) {
  const auto& c = GetParam();
  SimBench bench(Settings{{"FTSIM_EEPROM_IMAGE", image_.path()}});
  ASSERT_EQ(bench.init_result(), 0);
  bench.mark();
  int value = -1;
  EXPECT_EQ(EEPROM_ReadByte(c.address, &value), kEepromDone);
  EXPECT_EQ(value, pattern(c.cell));
  EXPECT_TRUE(same_transactions(random_read(c.write_address, c.word, pattern(c.cell)),
                                bench.transactions()));
  EXPECT_EQ(bench.call_count(), kRandomReadCalls);
}

TEST_P(EepromAddress, ByteWriteLandsInTheMaskedCell) {
  const auto& c = GetParam();
  SimBench bench(
      Settings{{"FTSIM_DEVICES", "eeprom:write-us=0"}, {"FTSIM_EEPROM_IMAGE", image_.path()}});
  ASSERT_EQ(bench.init_result(), 0);
  const int data = pattern(c.cell) ^ 0xFF;
  bench.mark();
  EXPECT_EQ(EEPROM_WriteByte(c.address, data), kEepromDone);
  EXPECT_TRUE(
      same_transactions(byte_write(c.write_address, c.word, data, 0), bench.transactions()));
  EXPECT_EQ(bench.call_count(), kByteWriteCalls + kPollCalls + 1);
  int value = -1;
  EXPECT_EQ(EEPROM_ReadByte(c.cell, &value), kEepromDone);
  EXPECT_EQ(value, data);
  // Its neighbour in the same page keeps its content.
  const int neighbour = c.cell ^ 1;
  EXPECT_EQ(EEPROM_ReadByte(neighbour, &value), kEepromDone);
  EXPECT_EQ(value, pattern(neighbour));
}

INSTANTIATE_TEST_SUITE_P(Masking, EepromAddress,
                         testing::Values(AddressCase{0x000, 0xA0, 0x00, 0x000},
                                         AddressCase{0x123, 0xA2, 0x23, 0x123},
                                         AddressCase{0x7FF, 0xAE, 0xFF, 0x7FF},
                                         // Only bits 10..0 count.
                                         AddressCase{0x800, 0xA0, 0x00, 0x000},
                                         AddressCase{0x9FF, 0xA2, 0xFF, 0x1FF},
                                         AddressCase{-1, 0xAE, 0xFF, 0x7FF}));

// --- Data masking --------------------------------------------------------------------------

TEST(EepromData, OnlyTheLowEightBitsAreWritten) {
  EEPROM_SelectType(2);
  SimBench bench(Settings{{"FTSIM_DEVICES", "eeprom:write-us=0"}});
  ASSERT_EQ(bench.init_result(), 0);
  struct Case {
    int data;
    int byte;
  };
  for (const auto& [data, byte] : {Case{0x1FF, 0xFF}, Case{0x15A, 0x5A}, Case{0x100, 0x00},
                                   Case{-1, 0xFF}, Case{-256, 0x00}}) {
    SCOPED_TRACE("data " + std::to_string(data));
    bench.mark();
    EXPECT_EQ(EEPROM_WriteByte(5, data), kEepromDone);
    EXPECT_TRUE(same_transactions(byte_write(0xA0, 0x05, byte, 0), bench.transactions()));
    int value = -1;
    EXPECT_EQ(EEPROM_ReadByte(5, &value), kEepromDone);
    EXPECT_EQ(value, byte);
  }
}

// --- Type selection and result 2 -----------------------------------------------------------

struct TypeCase {
  int type;
  bool enables;
};

void PrintTo(const TypeCase& c, std::ostream* out) {
  *out << "type " << c.type;
}

class EepromType : public testing::TestWithParam<TypeCase> {};

TEST_P(EepromType, OnlyTypesOneAndTwoEnableAccess) {
  const auto& c = GetParam();
  SimBench bench(Settings{{"FTSIM_DEVICES", "eeprom:write-us=0"}});
  ASSERT_EQ(bench.init_result(), 0);
  // A later selection replaces an earlier one, in both directions.
  EEPROM_SelectType(c.enables ? 0 : 2);
  EEPROM_SelectType(c.type);
  bench.mark();
  int value = 0x5555;
  if (c.enables) {
    EXPECT_EQ(EEPROM_ReadByte(0x10, &value), kEepromDone);
    EXPECT_EQ(value, 0xFF);
    EXPECT_EQ(EEPROM_WriteByte(0x10, 0x42), kEepromDone);
    EXPECT_TRUE(
        same_transactions(random_read(0xA0, 0x10, 0xFF) + " " + byte_write(0xA0, 0x10, 0x42, 0),
                          bench.transactions()));
  } else {
    EXPECT_EQ(EEPROM_ReadByte(0x10, &value), kEepromNoTypeSelected);
    EXPECT_EQ(value, 0x5555) << "a disabled read leaves *value untouched";
    EXPECT_EQ(EEPROM_WriteByte(0x10, 0x42), kEepromNoTypeSelected);
    EXPECT_EQ(bench.call_count(), 0u) << "no bus traffic while disabled";
  }
}

INSTANTIATE_TEST_SUITE_P(Selection, EepromType,
                         testing::Values(TypeCase{1, true}, TypeCase{2, true}, TypeCase{0, false},
                                         TypeCase{3, false}, TypeCase{-1, false},
                                         // Not masked: 258 is not type 2.
                                         TypeCase{258, false}));

// --- A missing acknowledge at each step ----------------------------------------------------

enum class Operation { kRead, kWrite };

struct NackCase {
  const char* name;
  Operation operation;
  const char* devices;
  const char* faults;
  const char* traffic;
};

void PrintTo(const NackCase& c, std::ostream* out) {
  *out << c.name;
}

// The bring-up reads the pins twice, so pin read 3 is the first acknowledge, 4 the second and 5
// the third. A failed pin read counts as a released SDA line: not acknowledged. The device itself
// refuses with nack-from=N: the N-th byte it would acknowledge (its address counts) and later.
const std::array kNackCases{
    NackCase{"ReadDeviceRefusesWordAddress", Operation::kRead, "eeprom:nack-from=2", "",
             "S A2 ack 34 nack P"},
    NackCase{"ReadDeviceRefusesReadAddress", Operation::kRead, "eeprom:nack-from=3", "",
             "S A2 ack 34 ack Sr A3 nack P"},
    NackCase{"WriteDeviceRefusesWordAddress", Operation::kWrite, "eeprom:nack-from=2", "",
             "S A2 ack 34 nack P"},
    NackCase{"WriteDeviceRefusesDataByte", Operation::kWrite, "eeprom:nack-from=3", "",
             "S A2 ack 34 ack 5A nack P"},
    NackCase{"ReadNoDevice", Operation::kRead, "none", "", "S A2 nack P"},
    NackCase{"ReadDeviceAddress", Operation::kRead, "eeprom", "read-fail-from=3", "S A2 nack P"},
    NackCase{"ReadWordAddress", Operation::kRead, "eeprom", "read-fail-from=4",
             "S A2 ack 34 nack P"},
    NackCase{"ReadReadAddress", Operation::kRead, "eeprom", "read-fail-from=5",
             "S A2 ack 34 ack Sr A3 nack P"},
    NackCase{"WriteNoDevice", Operation::kWrite, "none", "", "S A2 nack P"},
    NackCase{"WriteDeviceAddress", Operation::kWrite, "eeprom", "read-fail-from=3", "S A2 nack P"},
    NackCase{"WriteWordAddress", Operation::kWrite, "eeprom", "read-fail-from=4",
             "S A2 ack 34 nack P"},
    NackCase{"WriteDataByte", Operation::kWrite, "eeprom", "read-fail-from=5",
             "S A2 ack 34 ack 5A nack P"},
};

class EepromNack : public testing::TestWithParam<NackCase> {
 protected:
  void SetUp() override { EEPROM_SelectType(2); }
};

TEST_P(EepromNack, EndsWithAStopAndResultOne) {
  const auto& c = GetParam();
  SimBench bench(Settings{{"FTSIM_DEVICES", c.devices}, {"FTSIM_FAULTS", c.faults}});
  ASSERT_EQ(bench.init_result(), 0);
  bench.mark();
  if (c.operation == Operation::kRead) {
    int value = 0x5555;
    EXPECT_EQ(EEPROM_ReadByte(0x134, &value), kEepromNotAcknowledged);
    EXPECT_EQ(value, 0) << "a failed read leaves 0";
  } else {
    EXPECT_EQ(EEPROM_WriteByte(0x134, 0x5A), kEepromNotAcknowledged);
  }
  EXPECT_TRUE(same_transactions(c.traffic, bench.transactions()));
  // The stop is the last call: no polling after a refused byte.
  const auto calls = bench.calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().bytes, (std::vector<std::uint8_t>{0x00, 0x01, 0x03, 0x02}));
}

INSTANTIATE_TEST_SUITE_P(EachStep, EepromNack, testing::ValuesIn(kNackCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EepromNackBusy, ReadDuringTheWriteCycleIsRefusedAtTheDeviceAddress) {
  EEPROM_SelectType(2);
  SimBench bench;
  ASSERT_EQ(bench.init_result(), 0);
  // A byte write made with the primitives, without polling: the EEPROM is still busy.
  I2C_Start();
  I2C_WriteByte(0xA0);
  ASSERT_EQ(I2C_ReadBit(), 0);
  I2C_WriteByte(0x07);
  ASSERT_EQ(I2C_ReadBit(), 0);
  I2C_WriteByte(0x33);
  ASSERT_EQ(I2C_ReadBit(), 0);
  I2C_Stop();
  bench.mark();
  int value = 0x5555;
  EXPECT_EQ(EEPROM_ReadByte(7, &value), kEepromNotAcknowledged);
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(same_transactions("S A0 nack P", bench.transactions()));
}

// --- Acknowledge polling -------------------------------------------------------------------

// The step period at 57600 baud is 1 / (16 x 57600) s. The EEPROM starts its write cycle on the
// stop condition's step; poll j (from 0) presents its device address 1 + 4 + 24 = 29 steps later,
// plus 31 steps for every earlier poll, and is acknowledged once that is no earlier than the
// write-cycle time: (29 + 31 j) / (16 x 57600) s >= write_us x 1e-6 s.
int polls_while_busy(int write_us) {
  int polls = 0;
  while ((29LL + 31LL * polls) * 1'000'000 < static_cast<long long>(write_us) * 16 * 57600) {
    ++polls;
  }
  return polls;
}

class EepromPolling : public testing::TestWithParam<int> {
 protected:
  void SetUp() override { EEPROM_SelectType(2); }
};

TEST_P(EepromPolling, WriteReturnsOnlyAfterThePollIsAcknowledged) {
  const int write_us = GetParam();
  SimBench bench(Settings{{"FTSIM_DEVICES", "eeprom:write-us=" + std::to_string(write_us)}});
  ASSERT_EQ(bench.init_result(), 0);
  bench.mark();
  EXPECT_EQ(EEPROM_WriteByte(0x2C5, 0x96), kEepromDone);

  const auto traffic = bench.transactions();
  int busy_polls = 0;
  for (std::size_t i = 6; i < traffic.size(); ++i) busy_polls += traffic[i] == "nack" ? 1 : 0;
  EXPECT_EQ(busy_polls, polls_while_busy(write_us));
  EXPECT_TRUE(same_transactions(byte_write(0xA4, 0xC5, 0x96, busy_polls), traffic));
  EXPECT_EQ(bench.call_count(), 20 + 5 * static_cast<std::size_t>(busy_polls));
}

// 0: acknowledges the first poll. 40 us: busy for exactly the first poll. 5 ms: the default.
INSTANTIATE_TEST_SUITE_P(WriteCycle, EepromPolling, testing::Values(0, 40, 1000, 5000),
                         [](const auto& info) { return std::to_string(info.param) + "us"; });

TEST(EepromPollingCap, DeviceThatStopsAcknowledgingEndsTheWriteWithResultOne) {
  EEPROM_SelectType(2);
  SimBench bench(Settings{{"FTSIM_FAULTS", "eeprom-stops-ack"}});
  ASSERT_EQ(bench.init_result(), 0);
  bench.mark();
  EXPECT_EQ(EEPROM_WriteByte(0x10, 0x3C), kEepromNotAcknowledged);
  std::string expected = "S A0 ack 10 ack 3C ack P S A0 nack";
  for (int poll = 1; poll < kEepromMaxPolls; ++poll) expected += " Sr A0 nack";
  expected += " P";
  EXPECT_TRUE(same_transactions(expected, bench.transactions()));
  EXPECT_EQ(bench.call_count(),
            kByteWriteCalls + kPollCalls * static_cast<std::size_t>(kEepromMaxPolls) + 1);
}

}  // namespace
