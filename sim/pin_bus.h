// Pin-level model of the adapter's eight data pins and the I2C bus wired to them.
//
// Pin 0 drives SCL, pin 1 drives SDA through an open drain (0 pulls the line low, 1 releases it),
// pin 2 senses the SDA line. The SDA line is the wired AND of the master's drive and every
// device's drive, pulled up when nobody pulls it low. Input pins 3..7 read high (pull-ups).
//
// Each pin-state byte is one step of the bit-bang clock. Within one step, an SDA change that
// comes with a rising SCL is taken as settled before the edge (data set-up), one that comes with a
// falling SCL as made after it (data hold); only an SDA change while SCL stays high is a start or
// a stop condition.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "i2c_target.h"

namespace sim {

// Sees the bus levels after every step applied in bit-bang mode and after every change of the
// bit mode (which can let a line float up): for waveform traces.
class StepObserver {
 public:
  virtual ~StepObserver() = default;
  // `steps` counts the pin-state bytes the bus has taken so far, in bit-bang mode or not: the
  // levels after a step come with its number plus one. `device_sda_released` holds one entry per
  // device, in the order they were added: 1 while the device leaves SDA released, 0 while it
  // pulls the line low.
  virtual void on_levels(std::uint64_t steps, bool scl, bool sda_line, bool master_sda_released,
                         std::span<const std::uint8_t> device_sda_released) = 0;
};

enum class SdaDriveFault { kNone, kStuckHigh, kStuckLow };

class PinBus {
 public:
  PinBus();

  // `nack_from`: see I2cTargetPort.
  void add_device(std::unique_ptr<I2cDevice> device, std::uint64_t nack_from = 0);
  void set_observer(StepObserver* observer) { observer_ = observer; }
  void set_sda_drive_fault(SdaDriveFault fault) { sda_fault_ = fault; }

  // The step period follows the bit-bang clock: 16 steps per baud period.
  void set_baud_rate(std::uint32_t baud_rate);
  // `mask` bits are outputs; bit-bang mode 0 turns every pin back into an input.
  void set_bit_mode(std::uint8_t mask, std::uint8_t mode);

  // One step: applies a pin-state byte and advances the clock by one step period. Outside
  // bit-bang mode the bytes leave through the serial port and the pins do not move.
  void step(std::uint8_t pins);
  // The instantaneous levels of the eight pins.
  std::uint8_t read_pins() const;

  SimTime now() const { return now_; }
  // The pin-state bytes taken so far. Unlike now(), it does not depend on the baud rate.
  std::uint64_t steps() const { return steps_; }
  SimTime step_period() const { return step_period_; }
  bool scl() const { return scl_; }
  bool sda_line() const { return sda_line_; }
  std::span<const std::unique_ptr<I2cTargetPort>> ports() const { return ports_; }

 private:
  bool pin_level(int pin) const;
  bool compute_sda_line() const;
  void notify_observer();

  std::vector<std::unique_ptr<I2cTargetPort>> ports_;
  std::vector<std::uint8_t> drive_snapshot_;
  StepObserver* observer_ = nullptr;
  SdaDriveFault sda_fault_ = SdaDriveFault::kNone;

  std::uint8_t latch_ = 0x03;  // output latch; the bus idles with both lines high
  std::uint8_t output_mask_ = 0;
  bool bit_bang_ = false;
  bool scl_ = true;
  bool sda_line_ = true;
  SimTime now_ = 0;
  std::uint64_t steps_ = 0;
  SimTime step_period_ = 0;
};

// Picoseconds per step at a baud rate: one step per 1/(16 x baud) seconds.
SimTime step_period_for(std::uint32_t baud_rate);

}  // namespace sim
