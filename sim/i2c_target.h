// The slave side of an I2C bus, shared by every simulated device: a state machine fed by the
// line edges, in the manner of a protocol decoder. It recognises start, repeated start and stop
// (SDA changing while SCL is high), samples data on the rising edge of SCL, changes its own SDA
// drive only on the falling edge (so only while SCL is low), acknowledges on the ninth clock and,
// when transmitting, reads the master's acknowledge on the ninth clock.
//
// A device model sees only "start", "address", "byte written", "byte wanted" and "stop".
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace sim {

// Simulated time in picoseconds since the adapter was opened.
using SimTime = std::uint64_t;

class I2cDevice {
 public:
  virtual ~I2cDevice() = default;
  // Short name for traces and logs, such as "eeprom" or "thermo1".
  virtual std::string_view name() const = 0;
  // A start or repeated start condition.
  virtual void on_start(SimTime) {}
  // The address byte (7-bit address and R/W bit) that followed a start. true to acknowledge,
  // which makes the device the addressed one until the next start or stop.
  virtual bool on_address(std::uint8_t address_byte, SimTime now) = 0;
  // A byte the master wrote to the addressed device. true to acknowledge it.
  virtual bool on_byte_written(std::uint8_t byte, SimTime now) = 0;
  // The next byte the master reads from the addressed device.
  virtual std::uint8_t on_byte_wanted(SimTime now) = 0;
  // A stop condition, whether or not the device was addressed.
  virtual void on_stop(SimTime) {}
};

class I2cTargetPort {
 public:
  // `nack_from`, when not 0, is a fault: the device acknowledges no byte from the nack_from-th
  // byte it would acknowledge on (its address bytes count) and takes none of them.
  explicit I2cTargetPort(std::unique_ptr<I2cDevice> device, std::uint64_t nack_from = 0)
      : device_(std::move(device)), nack_from_(nack_from) {}

  void on_start(SimTime now);
  void on_stop(SimTime now);
  void on_scl_rise(bool sda_line, SimTime now);
  void on_scl_fall(SimTime now);

  // false while the device pulls SDA low.
  bool sda_released() const { return sda_released_; }
  I2cDevice& device() { return *device_; }
  const I2cDevice& device() const { return *device_; }

 private:
  enum class State {
    kIdle,          // waiting for a start condition
    kAddress,       // shifting in the address byte
    kAckAddress,    // acknowledging the address on the ninth clock
    kReceiving,     // shifting in a data byte from the master
    kAckByte,       // acknowledging a data byte on the ninth clock
    kTransmitting,  // shifting out a data byte to the master
    kMasterAck,     // ninth clock of a byte sent: the master acknowledges or not
  };

  bool fault_refuses_next() const { return nack_from_ != 0 && acknowledged_ + 1 >= nack_from_; }
  void load_next_byte(SimTime now);
  void drive_current_bit();

  std::unique_ptr<I2cDevice> device_;
  std::uint64_t nack_from_ = 0;
  std::uint64_t acknowledged_ = 0;  // address and data bytes acknowledged so far
  State state_ = State::kIdle;
  bool sda_released_ = true;
  bool reading_ = false;       // the addressed transfer is a read
  bool master_acked_ = false;  // sampled on the ninth clock of a byte sent
  int bits_ = 0;               // bits clocked in the current byte
  std::uint8_t shift_ = 0;     // byte being shifted in or out
};

}  // namespace sim
