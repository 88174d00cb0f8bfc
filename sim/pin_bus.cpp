// The pins and the bus lines: output latch, stuck-pin faults, the wired AND of SDA, and the
// conditions and clock edges handed to every device, one step at a time.
#include "pin_bus.h"

namespace sim {

namespace {
constexpr std::uint8_t kSclPin = 0x01;
constexpr std::uint8_t kSdaDrivePin = 0x02;
constexpr std::uint8_t kSdaSensePin = 0x04;
constexpr std::uint8_t kModeReset = 0x00;
constexpr std::uint32_t kDefaultBaudRate = 9600;
constexpr std::uint64_t kStepsPerBaud = 16;
constexpr std::uint64_t kPicosecondsPerSecond = 1'000'000'000'000;
}  // namespace

SimTime step_period_for(std::uint32_t baud_rate) {
  if (baud_rate == 0) baud_rate = 1;
  return (kPicosecondsPerSecond + kStepsPerBaud * baud_rate / 2) / (kStepsPerBaud * baud_rate);
}

PinBus::PinBus() : step_period_(step_period_for(kDefaultBaudRate)) {}

void PinBus::add_device(std::unique_ptr<I2cDevice> device, std::uint64_t nack_from) {
  ports_.push_back(std::make_unique<I2cTargetPort>(std::move(device), nack_from));
  drive_snapshot_.push_back(1);
}

void PinBus::set_baud_rate(std::uint32_t baud_rate) {
  step_period_ = step_period_for(baud_rate);
}

void PinBus::set_bit_mode(std::uint8_t mask, std::uint8_t mode) {
  bit_bang_ = mode != kModeReset;
  output_mask_ = bit_bang_ ? mask : 0;
  // Lines that stop being driven float up. The levels follow at once and a trace shows them; the
  // devices are not told, as nothing switches modes in the middle of a transaction.
  scl_ = pin_level(0);
  sda_line_ = compute_sda_line();
  notify_observer();
}

bool PinBus::pin_level(int pin) const {
  const auto bit = static_cast<std::uint8_t>(1u << pin);
  if (pin == 1 && sda_fault_ == SdaDriveFault::kStuckHigh) return true;
  if (pin == 1 && sda_fault_ == SdaDriveFault::kStuckLow) return false;
  if ((output_mask_ & bit) == 0) return true;  // an input, pulled up
  return (latch_ & bit) != 0;
}

bool PinBus::compute_sda_line() const {
  if (!pin_level(1)) return false;
  for (const auto& port : ports_) {
    if (!port->sda_released()) return false;
  }
  return true;
}

void PinBus::step(std::uint8_t pins) {
  if (bit_bang_) {
    latch_ = pins;
    const bool scl = pin_level(0);
    const bool was_scl = scl_;
    const bool was_sda = sda_line_;
    if (was_scl && !scl) {
      scl_ = false;
      for (auto& port : ports_) port->on_scl_fall(now_);
      sda_line_ = compute_sda_line();
    } else if (!was_scl && scl) {
      sda_line_ = compute_sda_line();
      scl_ = true;
      for (auto& port : ports_) port->on_scl_rise(sda_line_, now_);
    } else {
      sda_line_ = compute_sda_line();
      if (scl && was_sda && !sda_line_) {
        for (auto& port : ports_) port->on_start(now_);
      } else if (scl && !was_sda && sda_line_) {
        for (auto& port : ports_) port->on_stop(now_);
      }
      // A start or stop may change what the devices drive (they let go of the line).
      sda_line_ = compute_sda_line();
    }
  }
  now_ += step_period_;
  ++steps_;
  if (bit_bang_) notify_observer();
}

std::uint8_t PinBus::read_pins() const {
  std::uint8_t pins = 0xF8;  // inputs 3..7 pulled up
  if (pin_level(0)) pins |= kSclPin;
  if (pin_level(1)) pins |= kSdaDrivePin;
  if (sda_line_) pins |= kSdaSensePin;
  return pins;
}

void PinBus::notify_observer() {
  if (observer_ == nullptr) return;
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    drive_snapshot_[i] = ports_[i]->sda_released() ? 1 : 0;
  }
  observer_->on_levels(steps_, scl_, sda_line_, pin_level(1), drive_snapshot_);
}

}  // namespace sim
