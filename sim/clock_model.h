// A clock/calendar of the PCF8583 kind: 256 registers (control/status, the counters, alarms and
// free RAM) behind an 8-bit register pointer that the first byte of a write sets and every byte
// written or read advances (wrapping from 0xFF to 0x00); device address 1010 00 A0 R/W.
//
// While the stop bit (0x80) of the control register is clear it counts with the simulated time:
// hundredths, seconds, minutes, hours (24-hour form in bits 5..0, bits 7..6 kept as written) and
// the weekday (bits 7..5 of register 6). Day, month and year, alarms, the timer and the 12-hour
// form are not modelled. During a transaction (start to stop) the count is held so that a read
// of several registers sees one moment; the time that passed is counted after the stop.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "i2c_target.h"

namespace sim {

class ClockModel : public I2cDevice {
 public:
  static constexpr std::size_t kRegisterCount = 256;
  using Registers = std::array<std::uint8_t, kRegisterCount>;

  struct Options {
    int device_select = 0;  // the A0 pin: 0 or 1
  };

  explicit ClockModel(const Options& options);

  std::string_view name() const override { return name_; }
  void on_start(SimTime now) override;
  bool on_address(std::uint8_t address_byte, SimTime now) override;
  bool on_byte_written(std::uint8_t byte, SimTime now) override;
  std::uint8_t on_byte_wanted(SimTime now) override;
  void on_stop(SimTime now) override;

  // The registers as they stand at `now` (outside a transaction, counting brought up to date).
  const Registers& registers(SimTime now);

 private:
  bool counting() const;
  void catch_up(SimTime now);
  void advance(std::uint64_t hundredths);

  Options options_;
  std::string name_;
  Registers registers_{};
  std::uint8_t pointer_ = 0;
  bool pointer_next_ = false;    // the next byte written sets the register pointer
  bool in_transaction_ = false;  // between a start and a stop: the count is held
  bool count_written_ = false;   // control or counter registers written in this transaction
  SimTime anchor_ = 0;           // simulated time not yet counted starts here
};

}  // namespace sim

namespace sim {
struct DeviceEntry;
struct BenchConfig;
// The "clock" entry of FTSIM_DEVICES.
std::unique_ptr<I2cDevice> make_clock(const DeviceEntry& entry, const BenchConfig& config,
                                      std::string& error);
}  // namespace sim
