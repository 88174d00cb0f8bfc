// A serial EEPROM of the 24C16 kind: 2,048 bytes in eight blocks of 256, the block number in the
// device-address byte (1010 b2 b1 b0 R/W) and an 8-bit word address on the bus. Byte write, page
// write (16-byte pages; the address wraps inside the page), random read, current-address read and
// sequential read (which runs on across blocks and wraps at the end of the memory).
//
// A write is latched at the stop condition and starts the internal write cycle; while it lasts
// the device does not acknowledge its address. A start condition before the stop abandons the
// write, as on the real part.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "i2c_target.h"

namespace sim {

class EepromModel : public I2cDevice {
 public:
  static constexpr std::size_t kSize = 2048;
  static constexpr std::size_t kPageSize = 16;
  using Memory = std::array<std::uint8_t, kSize>;

  struct Options {
    SimTime write_cycle = 5'000'000'000;  // 5 ms, in picoseconds
    bool stops_acknowledging = false;     // fault: dead after taking a data byte
    std::string image_path;               // empty: no image file
  };

  EepromModel(const Options& options, const Memory& content);

  std::string_view name() const override { return "eeprom"; }
  void on_start(SimTime now) override;
  bool on_address(std::uint8_t address_byte, SimTime now) override;
  bool on_byte_written(std::uint8_t byte, SimTime now) override;
  std::uint8_t on_byte_wanted(SimTime now) override;
  void on_stop(SimTime now) override;

  const Memory& memory() const { return memory_; }
  bool busy(SimTime now) const { return now < busy_until_; }

 private:
  Options options_;
  Memory memory_;
  std::array<std::optional<std::uint8_t>, kPageSize> page_latch_{};
  bool latched_ = false;  // a data byte waits for the stop condition
  bool word_address_next_ = false;
  bool dead_ = false;
  std::uint16_t pointer_ = 0;  // the internal address counter, 11 bits
  SimTime busy_until_ = 0;
};

// Loads a 2,048-byte image. No file gives a blank (0xFF) memory; a file of another size is an
// error, reported in `error`.
std::optional<EepromModel::Memory> load_eeprom_image(const std::string& path, std::string& error);

}  // namespace sim

namespace sim {
struct DeviceEntry;
struct BenchConfig;
// The "eeprom" entry of FTSIM_DEVICES.
std::unique_ptr<I2cDevice> make_eeprom(const DeviceEntry& entry, const BenchConfig& config,
                                       std::string& error);
}  // namespace sim
