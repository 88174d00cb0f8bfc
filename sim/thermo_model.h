// A digital thermometer with the DS1621 command set at address 1001 A2 A1 A0: the configuration
// register (done flag, polarity and one-shot bits; command 0xAC), start and stop convert (0xEE,
// 0x22), the two-byte temperature register (0xAA) and the slope and counter registers (0xA9,
// 0xA8). The thermostat registers (TH, TL) and the thermostat output are not modelled; a command
// the model does not know is not acknowledged.
//
// A conversion lasts a set simulated time and then loads the registers from the set temperature:
// the temperature register in half degrees, the slope and counter so that the high-resolution
// rule, whole degrees - 1/4 + (slope - counter) / slope, gives the temperature back as closely as
// the slope allows. In one-shot mode a start runs one conversion and then sets the done flag; in
// continuous mode conversions follow each other until stop convert, and the done flag rises when
// the conversion running at the stop ends. Until the first conversion ends the registers read 0.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "i2c_target.h"

namespace sim {

class ThermoModel : public I2cDevice {
 public:
  struct Options {
    int number = 0;                        // A2 A1 A0
    int temperature = 25 * 256;            // in 1/256 degree Celsius
    SimTime conversion = 750'000'000'000;  // 750 ms, in picoseconds
    int slope = 80;                        // counts per degree; 0 is allowed (a faulty part)
    std::optional<int> counter;            // fixes the counter register instead of deriving it
    bool polarity = false;                 // power-up configuration bits
    bool one_shot = false;
  };

  explicit ThermoModel(const Options& options);

  std::string_view name() const override { return name_; }
  void on_start(SimTime now) override;
  bool on_address(std::uint8_t address_byte, SimTime now) override;
  bool on_byte_written(std::uint8_t byte, SimTime now) override;
  std::uint8_t on_byte_wanted(SimTime now) override;

  // What a conversion loads: the temperature register's two bytes, the slope and the counter.
  struct Registers {
    std::uint8_t msb = 0;
    std::uint8_t lsb = 0;
    std::uint8_t slope = 0;
    std::uint8_t counter = 0;
  };

 private:
  void catch_up(SimTime now);
  std::uint8_t config() const;

  Options options_;
  std::string name_;
  Registers registers_;
  std::uint8_t mode_bits_ = 0;  // polarity and one-shot, as last written
  bool done_ = true;            // no conversion in progress
  bool converting_ = false;
  bool continuous_ = false;        // the running conversions repeat
  SimTime conversion_end_ = 0;     // end of the conversion running now
  std::uint8_t command_ = 0;       // last command byte; 0 before any
  bool command_next_ = false;      // the next byte written is a command
  bool config_next_ = false;       // the next byte written is the configuration
  std::vector<std::uint8_t> out_;  // bytes a read transfer sends, in order
  std::size_t out_index_ = 0;
};

}  // namespace sim

namespace sim {
struct DeviceEntry;
struct BenchConfig;
// The "thermo" entry of FTSIM_DEVICES.
std::unique_ptr<I2cDevice> make_thermo(const DeviceEntry& entry, const BenchConfig& config,
                                       std::string& error);
}  // namespace sim
