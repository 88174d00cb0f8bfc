// The simulated adapter's own behaviour, driven step by step: start and stop recognition, the
// set-up and hold rule of one step, the wired AND of the SDA line, address matching, the EEPROM
// model with its write cycle and image file, and the bench settings parser.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "bench.h"
#include "eeprom_model.h"
#include "i2c_bus.h"
#include "i2c_target.h"
#include "pin_bus.h"
#include "sim_bench.h"

namespace {

namespace fs = std::filesystem;
using Settings = std::map<std::string, std::string>;
using sim::EepromModel;
using sim::SimTime;

std::string hex(int byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
  return text;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

// A device that writes down what the shared port tells it: "S", "P", "A<byte>" for an address it
// acknowledges, "A<byte>?" for one it does not, "W<byte>" for a byte written, "R" for a byte
// wanted. It answers at one 7-bit address and sends its bytes in turn.
class Probe : public sim::I2cDevice {
 public:
  Probe(int address, std::vector<std::string>& events, std::vector<std::uint8_t> to_send = {})
      : address_(address), events_(events), to_send_(std::move(to_send)) {}

  std::string_view name() const override { return "probe"; }
  void on_start(SimTime) override { events_.push_back("S"); }
  bool on_address(std::uint8_t byte, SimTime) override {
    const bool match = (byte >> 1) == address_;
    events_.push_back("A" + hex(byte) + (match ? "" : "?"));
    return match;
  }
  bool on_byte_written(std::uint8_t byte, SimTime) override {
    events_.push_back("W" + hex(byte));
    return true;
  }
  std::uint8_t on_byte_wanted(SimTime) override {
    events_.push_back("R");
    if (to_send_.empty()) return 0xFF;
    return to_send_[sent_++ % to_send_.size()];
  }
  void on_stop(SimTime) override { events_.push_back("P"); }

 private:
  int address_;
  std::vector<std::string>& events_;
  std::vector<std::uint8_t> to_send_;
  std::size_t sent_ = 0;
};

// The bus master's side, with the same waveforms as the bus layer: every bit is three steps
// (SCL low, high, low) with SDA set while SCL is low; pins are sampled while SCL is high.
class Master {
 public:
  explicit Master(sim::PinBus& bus) : bus_(bus) {}

  void steps(std::initializer_list<std::uint8_t> pins) {
    for (const auto step : pins) bus_.step(step);
  }
  void start() { steps({0x02, 0x03, 0x01, 0x00}); }
  void stop() {
    steps({0x00, 0x01});
    stop_time_ = bus_.now();  // the step on which SDA rises with SCL high
    steps({0x03, 0x02});
  }
  // One clock with SDA released (true) or pulled low; the line level while SCL is high.
  bool clock(bool release) {
    const std::uint8_t sda = release ? 0x02 : 0x00;
    steps({sda, static_cast<std::uint8_t>(sda | 0x01)});
    sample_pins_ = bus_.read_pins();
    fall_time_ = bus_.now();
    bus_.step(sda);
    return (sample_pins_ & 0x04) != 0;
  }
  // Sends a byte; true when acknowledged.
  bool write(std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) clock(((byte >> bit) & 1) != 0);
    last_byte_fall_time_ = fall_time_;
    return !clock(true);
  }
  // Reads a byte and answers with an acknowledge (more wanted) or a not-acknowledge.
  std::uint8_t read(bool acknowledge) {
    int value = 0;
    for (int bit = 0; bit < 8; ++bit) value = value * 2 + (clock(true) ? 1 : 0);
    clock(!acknowledge);
    return static_cast<std::uint8_t>(value);
  }

  std::uint8_t sample_pins() const { return sample_pins_; }
  SimTime stop_time() const { return stop_time_; }
  // When the eighth bit of the last byte written ended: the moment a device takes the byte.
  SimTime last_byte_fall_time() const { return last_byte_fall_time_; }

 private:
  sim::PinBus& bus_;
  std::uint8_t sample_pins_ = 0;
  SimTime fall_time_ = 0;
  SimTime last_byte_fall_time_ = 0;
  SimTime stop_time_ = 0;
};

class SimBus : public testing::Test {
 protected:
  SimBus() {
    bus_.set_baud_rate(57600);
    bus_.set_bit_mode(0x03, 0x01);
  }
  template <typename Device>
  Device& add(std::unique_ptr<Device> device) {
    Device& added = *device;
    bus_.add_device(std::move(device));
    return added;
  }
  Probe& add_probe(int address, std::vector<std::uint8_t> to_send = {}) {
    return add(std::make_unique<Probe>(address, events_, std::move(to_send)));
  }

  sim::PinBus bus_;
  Master master_{bus_};
  std::vector<std::string> events_;
};

TEST_F(SimBus, StepPeriodIsOneSixteenthOfTheBaudPeriod) {
  // 1 / (16 x 57600) s = 1,085,069.4 ps.
  EXPECT_EQ(bus_.step_period(), 1'085'069u);
  const SimTime before = bus_.now();
  master_.steps({0x02, 0x03, 0x02});
  EXPECT_EQ(bus_.now() - before, 3 * bus_.step_period());
}

// --- Start and stop conditions -------------------------------------------------------------

struct ConditionCase {
  const char* name;
  std::vector<std::uint8_t> steps;  // from the idle bus, both lines high
  const char* events;
};

void PrintTo(const ConditionCase& c, std::ostream* out) {
  *out << c.name;
}

class SimConditions : public SimBus, public testing::WithParamInterface<ConditionCase> {};

TEST_P(SimConditions, OnlySdaChangingWhileSclStaysHighIsACondition) {
  add_probe(0x50);
  for (const auto step : GetParam().steps) bus_.step(step);
  EXPECT_EQ(joined(events_), GetParam().events);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SimConditions,
    testing::Values(
        ConditionCase{"StartFromIdle", {0x01, 0x00}, "S"},
        ConditionCase{"StartAfterClockLow", {0x02, 0x03, 0x01, 0x00}, "S"},
        ConditionCase{"StartThenStop", {0x02, 0x03, 0x01, 0x00, 0x00, 0x01, 0x03, 0x02}, "S P"},
        ConditionCase{"RepeatedStart", {0x02, 0x03, 0x01, 0x00, 0x02, 0x03, 0x01, 0x00}, "S S"},
        ConditionCase{"SdaMovingWhileSclLow", {0x02, 0x00, 0x02, 0x00, 0x02}, ""},
        // Within one step, SDA set with a rising SCL settled before the edge (set-up), and SDA
        // changed with a falling SCL changed after it (hold): neither is a condition.
        ConditionCase{"SdaRisingWithSclRising", {0x02, 0x03, 0x01, 0x00, 0x03, 0x02}, "S"},
        ConditionCase{"SdaFallingWithSclFalling", {0x02, 0x03, 0x00, 0x02}, ""},
        ConditionCase{"StopWhileIdle", {0x01, 0x03, 0x01, 0x03}, "S P S P"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimBus, AddressAndDataAreTakenOnTheRisingClockEdge) {
  add_probe(0x50);
  master_.start();
  ASSERT_TRUE(master_.write(0xA0));
  // Each bit of 0xA5 in two steps: SCL rises as SDA takes the bit, SCL falls as SDA takes the
  // opposite level. Sampling on the falling edge would give 0x5A; an SDA change taken while SCL
  // is high would show as a start or stop.
  std::uint8_t level = 0x02;
  for (int bit = 7; bit >= 0; --bit) {
    const bool one = ((0xA5 >> bit) & 1) != 0;
    bus_.step(one ? 0x03 : 0x01);
    level = one ? 0x00 : 0x02;
    bus_.step(level);
  }
  EXPECT_FALSE(master_.clock(true)) << "the probe acknowledges";
  master_.stop();
  EXPECT_EQ(joined(events_), "S AA0 WA5 P");
}

// --- Who drives SDA when -------------------------------------------------------------------

// Records per step the clock and the first device's SDA drive.
class DriveRecorder : public sim::StepObserver {
 public:
  void on_levels(std::uint64_t, bool scl, bool, bool,
                 std::span<const std::uint8_t> devices) override {
    scl_.push_back(scl);
    drive_.push_back(devices.empty() ? 1 : devices[0]);
  }
  std::vector<bool> scl_;
  std::vector<std::uint8_t> drive_;
};

TEST_F(SimBus, DevicesChangeSdaOnlyWhileSclIsLow) {
  EepromModel::Memory content;
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 37);
  add(std::make_unique<EepromModel>(EepromModel::Options{0, false, ""}, content));
  DriveRecorder recorder;
  bus_.set_observer(&recorder);
  // A write (the device acknowledges) and a two-byte read (the device sends data).
  master_.start();
  ASSERT_TRUE(master_.write(0xA0));
  ASSERT_TRUE(master_.write(0x15));
  ASSERT_TRUE(master_.write(0x5A));
  master_.stop();
  master_.start();
  ASSERT_TRUE(master_.write(0xA0));
  ASSERT_TRUE(master_.write(0x20));
  master_.start();
  ASSERT_TRUE(master_.write(0xA1));
  EXPECT_EQ(master_.read(true), content[0x20]);
  EXPECT_EQ(master_.read(false), content[0x21]);
  master_.stop();

  int changes = 0;
  for (std::size_t i = 1; i < recorder.drive_.size(); ++i) {
    if (recorder.drive_[i] == recorder.drive_[i - 1]) continue;
    ++changes;
    EXPECT_FALSE(recorder.scl_[i]) << "the device moved SDA at step " << i << " with SCL high";
  }
  EXPECT_GE(changes, 8);
}

struct WiredAndCase {
  std::uint8_t first;                  // what the first device sends
  std::optional<std::uint8_t> second;  // what a second device at the same address sends
  std::uint8_t master;                 // the master's SDA drive per bit (1 = released)
  std::uint8_t line;                   // the SDA line the master senses
};

void PrintTo(const WiredAndCase& c, std::ostream* out) {
  *out << hex(c.first) << (c.second ? " & " + hex(*c.second) : "") << " & master " << hex(c.master);
}

class SimWiredAnd : public SimBus, public testing::WithParamInterface<WiredAndCase> {};

TEST_P(SimWiredAnd, SdaIsLowWhenAnyoneDrivesItLow) {
  const auto& c = GetParam();
  add_probe(0x50, {c.first});
  if (c.second) add_probe(0x50, {*c.second});
  master_.start();
  ASSERT_TRUE(master_.write(0xA1));
  int line = 0;
  for (int bit = 7; bit >= 0; --bit) {
    const bool released = ((c.master >> bit) & 1) != 0;
    line = line * 2 + (master_.clock(released) ? 1 : 0);
    // The drive pin reads back what the master drives, whatever the line does.
    EXPECT_EQ((master_.sample_pins() & 0x02) != 0, released) << "bit " << bit;
  }
  master_.clock(true);
  master_.stop();
  EXPECT_EQ(line, c.line);
  EXPECT_TRUE(bus_.sda_line()) << "everyone lets go after the stop";
}

INSTANTIATE_TEST_SUITE_P(Drivers, SimWiredAnd,
                         testing::Values(WiredAndCase{0x3C, std::nullopt, 0xFF, 0x3C},
                                         WiredAndCase{0xFF, std::nullopt, 0x5A, 0x5A},
                                         WiredAndCase{0x96, std::nullopt, 0xF0, 0x90},
                                         WiredAndCase{0xF0, 0x0F, 0xFF, 0x00},
                                         WiredAndCase{0xFF, 0xA5, 0xFF, 0xA5},
                                         WiredAndCase{0xC3, 0xF6, 0x7E, 0x42}));

TEST_F(SimBus, EepromAnswersAtItsEightBlockAddressesOnly) {
  add(std::make_unique<EepromModel>(EepromModel::Options{0, false, ""}, EepromModel::Memory{}));
  for (int address = 0; address < 256; ++address) {
    SCOPED_TRACE("address byte " + hex(address));
    const bool ours = (address & 0xF0) == 0xA0;
    master_.start();
    EXPECT_EQ(master_.write(static_cast<std::uint8_t>(address)), ours);
    if (!ours) {
      // Not addressed: the device ignores the rest of the transfer.
      EXPECT_FALSE(master_.write(0x00));
    } else if ((address & 1) == 0) {
      EXPECT_TRUE(master_.write(0x00));  // the word address
    } else {
      master_.read(false);
    }
    master_.stop();
  }
}

// --- The EEPROM model ----------------------------------------------------------------------

std::uint8_t pattern(std::size_t cell) {
  return static_cast<std::uint8_t>(cell * 7 + (cell >> 8) * 0x55 + 0x13);
}

EepromModel::Memory pattern_memory() {
  EepromModel::Memory memory;
  for (std::size_t i = 0; i < memory.size(); ++i) memory[i] = pattern(i);
  return memory;
}

EepromModel::Memory blank_memory() {
  EepromModel::Memory memory;
  memory.fill(0xFF);
  return memory;
}

class SimEeprom : public SimBus {
 protected:
  EepromModel& add_eeprom(const EepromModel::Memory& content, SimTime write_cycle = 0,
                          const std::string& image = "") {
    return add(
        std::make_unique<EepromModel>(EepromModel::Options{write_cycle, false, image}, content));
  }
  static std::uint8_t device(int address, bool read) {
    return static_cast<std::uint8_t>(0xA0 | ((address >> 7) & 0x0E) | (read ? 1 : 0));
  }
  // A write transaction; true when every byte was acknowledged.
  bool write_bytes(int address, const std::vector<std::uint8_t>& data) {
    master_.start();
    bool acked = master_.write(device(address, false)) &&
                 master_.write(static_cast<std::uint8_t>(address & 0xFF));
    for (const auto byte : data) acked = acked && master_.write(byte);
    master_.stop();
    return acked;
  }
  // A random read of `count` bytes from `address` on.
  std::vector<std::uint8_t> read_bytes(int address, int count) {
    master_.start();
    EXPECT_TRUE(master_.write(device(address, false)));
    EXPECT_TRUE(master_.write(static_cast<std::uint8_t>(address & 0xFF)));
    master_.start();
    EXPECT_TRUE(master_.write(device(address, true)));
    return read_on(count);
  }
  std::vector<std::uint8_t> read_on(int count) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < count; ++i) bytes.push_back(master_.read(i + 1 < count));
    master_.stop();
    return bytes;
  }
};

struct PageWriteCase {
  int address;
  int count;
};

void PrintTo(const PageWriteCase& c, std::ostream* out) {
  *out << c.count << " bytes at 0x" << std::hex << c.address;
}

class SimEepromPageWrite : public SimEeprom, public testing::WithParamInterface<PageWriteCase> {};

TEST_P(SimEepromPageWrite, BytesStayInTheirSixteenBytePage) {
  const auto& c = GetParam();
  auto& eeprom = add_eeprom(blank_memory());
  std::vector<std::uint8_t> data;
  auto expected = blank_memory();
  for (int i = 0; i < c.count; ++i) {
    data.push_back(static_cast<std::uint8_t>(0x80 + i));
    const int cell = (c.address & 0x7F0) | ((c.address + i) & 0x0F);
    expected[static_cast<std::size_t>(cell)] = data.back();  // a later byte overwrites
  }
  ASSERT_TRUE(write_bytes(c.address, data));
  EXPECT_EQ(eeprom.memory(), expected);
}

INSTANTIATE_TEST_SUITE_P(Pages, SimEepromPageWrite,
                         testing::Values(PageWriteCase{0x345, 1}, PageWriteCase{0x1D, 5},
                                         PageWriteCase{0x10, 16}, PageWriteCase{0x10, 17},
                                         PageWriteCase{0x7FE, 3}));

struct ReadCase {
  int address;
  int count;
};

void PrintTo(const ReadCase& c, std::ostream* out) {
  *out << c.count << " bytes from 0x" << std::hex << c.address;
}

class SimEepromRead : public SimEeprom, public testing::WithParamInterface<ReadCase> {};

TEST_P(SimEepromRead, SequentialReadRunsOnAcrossBlocksAndWrapsAtTheEnd) {
  const auto& c = GetParam();
  add_eeprom(pattern_memory());
  std::vector<std::uint8_t> expected;
  for (int i = 0; i < c.count; ++i) expected.push_back(pattern((c.address + i) & 0x7FF));
  EXPECT_EQ(read_bytes(c.address, c.count), expected);
}

INSTANTIATE_TEST_SUITE_P(Reads, SimEepromRead,
                         testing::Values(ReadCase{0x3A5, 1}, ReadCase{0x0FE, 4},
                                         ReadCase{0x7FE, 4}));

TEST_F(SimEeprom, CurrentAddressReadContinuesAfterTheLastByteRead) {
  add_eeprom(pattern_memory());
  ASSERT_EQ(read_bytes(0x2F0, 2), (std::vector{pattern(0x2F0), pattern(0x2F1)}));
  master_.start();
  ASSERT_TRUE(master_.write(device(0x2F0, true)));
  EXPECT_EQ(read_on(1), std::vector{pattern(0x2F2)});
}

TEST_F(SimEeprom, AddressIsRefusedDuringTheWriteCycleOnly) {
  constexpr SimTime kWriteCycle = 100'000'000;  // 100 us
  auto& eeprom = add_eeprom(blank_memory(), kWriteCycle);
  ASSERT_TRUE(write_bytes(0x40, {0x11}));
  const SimTime write_started = master_.stop_time();
  EXPECT_EQ(eeprom.memory()[0x40], 0x11);
  // Acknowledge polling: repeated starts until the device answers.
  SimTime last_refused = 0;
  int refused = 0;
  while (true) {
    master_.start();
    const bool acked = master_.write(device(0x40, false));
    if (acked) break;
    last_refused = master_.last_byte_fall_time();
    ASSERT_LT(++refused, 1000);
  }
  master_.stop();
  EXPECT_GE(refused, 1);
  EXPECT_LT(last_refused, write_started + kWriteCycle);
  EXPECT_GE(master_.last_byte_fall_time(), write_started + kWriteCycle);
  // 31 steps per poll: about 100 us x 921,600 steps/s / 31 steps.
  EXPECT_EQ(refused, 3);
}

TEST_F(SimEeprom, StartBeforeTheStopAbandonsTheWrite) {
  auto& eeprom = add_eeprom(pattern_memory(), 5'000'000'000);
  master_.start();
  ASSERT_TRUE(master_.write(0xA0));
  ASSERT_TRUE(master_.write(0x30));
  ASSERT_TRUE(master_.write(0x77));
  master_.start();  // repeated start instead of the stop
  ASSERT_TRUE(master_.write(0xA1)) << "no write cycle has started";
  master_.read(false);
  master_.stop();
  EXPECT_EQ(eeprom.memory(), pattern_memory());
  master_.start();
  EXPECT_TRUE(master_.write(0xA0)) << "still no write cycle after the stop";
  master_.stop();
}

TEST_F(SimEeprom, EepromThatStopsAcknowledgingTakesOneDataByteAndNothingAfter) {
  auto memory = pattern_memory();
  auto& eeprom = add(std::make_unique<EepromModel>(EepromModel::Options{0, true, ""}, memory));
  master_.start();
  ASSERT_TRUE(master_.write(0xA0));
  ASSERT_TRUE(master_.write(0x30));
  EXPECT_TRUE(master_.write(0x11)) << "the first data byte is taken";
  EXPECT_FALSE(master_.write(0x22)) << "the second byte of the page write";
  master_.stop();
  memory[0x30] = 0x11;
  EXPECT_EQ(eeprom.memory(), memory);
  master_.start();
  EXPECT_FALSE(master_.write(0xA1)) << "nor its address, ever again";
  master_.stop();
}

// --- The image file ------------------------------------------------------------------------

// A fresh directory for one test, removed with it.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    path_ =
        fs::temp_directory_path() / ("sim-test-" + std::to_string(::getpid()) + "-" + test->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path operator/(const char* name) const { return path_ / name; }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  fs::path path_;
};

void write_file(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> read_file(std::istream& file) {
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> as_bytes(const EepromModel::Memory& memory) {
  return {memory.begin(), memory.end()};
}

ino_t inode_of(const fs::path& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

TEST(SimEepromImage, LoadsTheFileOrStartsBlank) {
  ScratchDirectory directory;
  const auto path = directory / "eeprom.bin";
  std::string error;
  EXPECT_EQ(sim::load_eeprom_image(path.string(), error), blank_memory());
  write_file(path, as_bytes(pattern_memory()));
  EXPECT_EQ(sim::load_eeprom_image(path.string(), error), pattern_memory());
  EXPECT_EQ(error, "");
}

TEST(SimEepromImage, AnImageOfAnotherSizeIsAnError) {
  ScratchDirectory directory;
  const auto path = directory / "eeprom.bin";
  for (const std::size_t size : {0u, 2047u, 2049u, 4096u}) {
    SCOPED_TRACE(std::to_string(size) + " bytes");
    write_file(path, std::vector<std::uint8_t>(size, 0x42));
    std::string error;
    EXPECT_FALSE(sim::load_eeprom_image(path.string(), error));
    EXPECT_NE(error.find(std::to_string(size)), std::string::npos) << error;

    // A bench with that image does not come up.
    sim::BenchConfig config;
    config.devices.push_back({"eeprom", std::nullopt, {}});
    config.eeprom_image = path.string();
    error.clear();
    EXPECT_EQ(sim::build_bus(config, error), nullptr);
    EXPECT_NE(error, "");
  }
}

TEST_F(SimEeprom, ImageIsReplacedWholeAfterEveryWrite) {
  ScratchDirectory directory;
  const auto path = directory / "eeprom.bin";
  write_file(path, as_bytes(pattern_memory()));
  auto& eeprom = add_eeprom(pattern_memory(), 0, path.string());

  // A read writes nothing back.
  const ino_t original = inode_of(path);
  read_bytes(0x10, 2);
  EXPECT_EQ(inode_of(path), original);

  std::ifstream old_image(path, std::ios::binary);
  ASSERT_TRUE(write_bytes(0x10, {0x01, 0x02}));
  auto expected = pattern_memory();
  expected[0x10] = 0x01;
  expected[0x11] = 0x02;
  ASSERT_EQ(eeprom.memory(), expected);
  std::ifstream new_image(path, std::ios::binary);
  EXPECT_EQ(read_file(new_image), as_bytes(expected));
  // The new content came under the old name by a rename: whoever had the old file open still
  // reads it whole and unchanged, and no temporary file is left beside it.
  EXPECT_EQ(read_file(old_image), as_bytes(pattern_memory()));
  EXPECT_NE(inode_of(path), original);
  EXPECT_EQ(directory.entries(), std::vector<std::string>{"eeprom.bin"});
}

TEST_F(SimEeprom, FailedImageSaveIsReportedAndLeavesNoTemporaryFile) {
  ScratchDirectory directory;
  // A directory in the image's place: the new content cannot take its name.
  const auto path = directory / "eeprom.bin";
  fs::create_directory(path);
  auto& eeprom = add_eeprom(blank_memory(), 0, path.string());
  testing::internal::CaptureStderr();
  ASSERT_TRUE(write_bytes(0x00, {0x55}));
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find(path.string()), std::string::npos) << message;
  EXPECT_EQ(eeprom.memory()[0], 0x55) << "the device goes on working";
  EXPECT_EQ(directory.entries(), std::vector<std::string>{"eeprom.bin"});
  EXPECT_TRUE(fs::is_directory(path));
}

// --- Bench settings ------------------------------------------------------------------------

sim::EnvLookup environment(Settings settings) {
  return [settings = std::move(settings)](const char* name) -> std::optional<std::string> {
    const auto found = settings.find(name);
    if (found == settings.end()) return std::nullopt;
    return found->second;
  };
}

TEST(SimBenchConfig, DefaultIsOneHealthyEeprom) {
  std::string error;
  const auto config = sim::parse_bench_config(environment({}), error);
  ASSERT_TRUE(config) << error;
  ASSERT_EQ(config->devices.size(), 1u);
  EXPECT_EQ(config->devices[0].kind, "eeprom");
  EXPECT_FALSE(config->devices[0].number);
  EXPECT_TRUE(config->devices[0].options.empty());
  const sim::Faults none;
  EXPECT_FALSE(config->faults.no_adapter || config->faults.baud_refused ||
               config->faults.bit_mode_refused || config->faults.eeprom_stops_ack);
  EXPECT_EQ(config->faults.sda_drive, none.sda_drive);
  EXPECT_EQ(config->faults.read_fail_from, 0u);
  EXPECT_EQ(config->faults.write_fail_from, 0u);
  EXPECT_EQ(config->eeprom_image, "");
  EXPECT_EQ(config->call_delay_us, 0u);
}

struct FaultCase {
  const char* text;
  sim::Faults faults;
};

void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.text;
}

sim::Faults with(void (*set)(sim::Faults&)) {
  sim::Faults faults;
  set(faults);
  return faults;
}

class SimFaultSetting : public testing::TestWithParam<FaultCase> {};

TEST_P(SimFaultSetting, EveryFaultHasItsName) {
  std::string error;
  const auto config =
      sim::parse_bench_config(environment({{"FTSIM_FAULTS", GetParam().text}}), error);
  ASSERT_TRUE(config) << error;
  const auto& actual = config->faults;
  const auto& expected = GetParam().faults;
  EXPECT_EQ(actual.no_adapter, expected.no_adapter);
  EXPECT_EQ(actual.baud_refused, expected.baud_refused);
  EXPECT_EQ(actual.bit_mode_refused, expected.bit_mode_refused);
  EXPECT_EQ(actual.sda_drive, expected.sda_drive);
  EXPECT_EQ(actual.read_fail_from, expected.read_fail_from);
  EXPECT_EQ(actual.write_fail_from, expected.write_fail_from);
  EXPECT_EQ(actual.eeprom_stops_ack, expected.eeprom_stops_ack);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SimFaultSetting,
    testing::Values(
        FaultCase{"", {}},
        FaultCase{"no-adapter", with([](sim::Faults& f) { f.no_adapter = true; })},
        FaultCase{"baud-refused", with([](sim::Faults& f) { f.baud_refused = true; })},
        FaultCase{"bitmode-refused", with([](sim::Faults& f) { f.bit_mode_refused = true; })},
        FaultCase{"sda-stuck-high",
                  with([](sim::Faults& f) { f.sda_drive = sim::SdaDriveFault::kStuckHigh; })},
        FaultCase{"sda-stuck-low",
                  with([](sim::Faults& f) { f.sda_drive = sim::SdaDriveFault::kStuckLow; })},
        FaultCase{"read-fail-from=7", with([](sim::Faults& f) { f.read_fail_from = 7; })},
        FaultCase{"write-fail-from=123456",
                  with([](sim::Faults& f) { f.write_fail_from = 123456; })},
        FaultCase{"eeprom-stops-ack", with([](sim::Faults& f) { f.eeprom_stops_ack = true; })},
        FaultCase{" baud-refused , read-fail-from=1,write-fail-from=2 ", with([](sim::Faults& f) {
                    f.baud_refused = true;
                    f.read_fail_from = 1;
                    f.write_fail_from = 2;
                  })}));

TEST(SimBenchConfig, DevicesWithNumbersAndOptions) {
  std::string error;
  auto config = sim::parse_bench_config(
      environment({{"FTSIM_DEVICES", "eeprom:write-us=250, probe@3:fast:speed=2"},
                   {"FTSIM_EEPROM_IMAGE", "/tmp/x.bin"},
                   {"FTSIM_CALL_DELAY_US", "1000000"}}),
      error);
  ASSERT_TRUE(config) << error;
  ASSERT_EQ(config->devices.size(), 2u);
  EXPECT_EQ(config->devices[0].kind, "eeprom");
  EXPECT_EQ(config->devices[0].options,
            (std::vector<std::pair<std::string, std::string>>{{"write-us", "250"}}));
  EXPECT_EQ(config->devices[1].kind, "probe");
  EXPECT_EQ(config->devices[1].number, 3);
  EXPECT_EQ(config->devices[1].options,
            (std::vector<std::pair<std::string, std::string>>{{"fast", ""}, {"speed", "2"}}));
  EXPECT_EQ(config->eeprom_image, "/tmp/x.bin");
  EXPECT_EQ(config->call_delay_us, 1'000'000u);

  config = sim::parse_bench_config(environment({{"FTSIM_DEVICES", "none"}}), error);
  ASSERT_TRUE(config) << error;
  EXPECT_TRUE(config->devices.empty());
}

TEST(SimBenchConfig, BuildsTheBusItDescribes) {
  for (const auto& [devices, ports] : std::vector<std::pair<std::string, std::size_t>>{
           {"none", 0}, {"eeprom", 1}, {"eeprom:write-us=0", 1}, {"eeprom,eeprom", 2}}) {
    SCOPED_TRACE(devices);
    std::string error;
    const auto config = sim::parse_bench_config(environment({{"FTSIM_DEVICES", devices}}), error);
    ASSERT_TRUE(config) << error;
    const auto bus = sim::build_bus(*config, error);
    ASSERT_NE(bus, nullptr) << error;
    EXPECT_EQ(bus->ports().size(), ports);
  }
}

struct BadSetting {
  const char* variable;
  const char* value;
};

void PrintTo(const BadSetting& c, std::ostream* out) {
  *out << c.variable << "=" << c.value;
}

class SimBadSetting : public testing::TestWithParam<BadSetting> {};

TEST_P(SimBadSetting, IsAnErrorWithAMessage) {
  std::string error;
  const auto config =
      sim::parse_bench_config(environment({{GetParam().variable, GetParam().value}}), error);
  if (config) {
    // Parsed, but names a device kind or option that does not exist.
    EXPECT_EQ(sim::build_bus(*config, error), nullptr);
  }
  EXPECT_NE(error, "");
}

INSTANTIATE_TEST_SUITE_P(
    Unparsable, SimBadSetting,
    testing::Values(
        BadSetting{"FTSIM_FAULTS", "bogus"}, BadSetting{"FTSIM_FAULTS", "no-adapter=1"},
        BadSetting{"FTSIM_FAULTS", "read-fail-from"}, BadSetting{"FTSIM_FAULTS", "read-fail-from="},
        BadSetting{"FTSIM_FAULTS", "read-fail-from=0"},
        BadSetting{"FTSIM_FAULTS", "read-fail-from=x"},
        BadSetting{"FTSIM_FAULTS", "write-fail-from=-1"},
        BadSetting{"FTSIM_FAULTS", "write-fail-from=2x"},
        BadSetting{"FTSIM_FAULTS", "write-fail-from=99999999999999999999"},
        BadSetting{"FTSIM_FAULTS", "no-adapter,,baud-refused"}, BadSetting{"FTSIM_DEVICES", ""},
        BadSetting{"FTSIM_DEVICES", "eeprom,"}, BadSetting{"FTSIM_DEVICES", "eeprom@"},
        BadSetting{"FTSIM_DEVICES", "eeprom@256"}, BadSetting{"FTSIM_DEVICES", "eeprom:=5"},
        BadSetting{"FTSIM_DEVICES", "eeprom:"}, BadSetting{"FTSIM_CALL_DELAY_US", "slow"},
        BadSetting{"FTSIM_CALL_DELAY_US", "1000001"}, BadSetting{"FTSIM_CALL_DELAY_US", "-5"}));

INSTANTIATE_TEST_SUITE_P(Unknown, SimBadSetting,
                         testing::Values(BadSetting{"FTSIM_DEVICES", "thermometer"},
                                         BadSetting{"FTSIM_DEVICES", "eeprom,toaster"},
                                         BadSetting{"FTSIM_DEVICES", "eeprom:speed=3"},
                                         BadSetting{"FTSIM_DEVICES", "eeprom:write-us=fast"},
                                         BadSetting{"FTSIM_DEVICES", "eeprom:write-us=10000001"},
                                         BadSetting{"FTSIM_DEVICES", "eeprom@1"}));

// Through the exported entry points: a setting the simulator cannot use makes the adapter refuse
// to open, so the bring-up fails and nothing is written to the pins.
class SimRefusesToOpen : public testing::TestWithParam<BadSetting> {};

TEST_P(SimRefusesToOpen, BringUpFails) {
  testing::internal::CaptureStderr();
  SimBench bench(Settings{{GetParam().variable, GetParam().value}});
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_EQ(bench.init_result(), 1);
  EXPECT_NE(message.find("ftd2xx simulator"), std::string::npos) << message;
  for (const auto& call : bench.calls()) {
    EXPECT_EQ(call.entry, "FT_Open");
    EXPECT_NE(call.status, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, SimRefusesToOpen,
                         testing::Values(BadSetting{"FTSIM_FAULTS", "read-fail-from=soon"},
                                         BadSetting{"FTSIM_FAULTS", "no-adaptor"},
                                         BadSetting{"FTSIM_DEVICES", "thermometer"},
                                         // An image that is a folder, or that cannot be kept.
                                         BadSetting{"FTSIM_EEPROM_IMAGE", "/"},
                                         BadSetting{"FTSIM_EEPROM_IMAGE",
                                                    "/no-such-folder/e.bin"}));

TEST(SimRefusesToOpenWithoutItsLog, CallLogThatCannotBeWrittenIsAnError) {
  SimBench bench;  // a bench of its own brings the bus up, then the log goes missing
  ASSERT_EQ(bench.init_result(), 0);
  ::setenv("FTSIM_LOG", "/no-such-folder/calls.log", 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(I2C_Init(), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot write the call log"),
            std::string::npos);
}

}  // namespace
