// The slave's edge state machine: what each device does on a start, a stop, and either edge of
// SCL, whatever the device.
#include "i2c_target.h"

namespace sim {

void I2cTargetPort::on_start(SimTime now) {
  state_ = State::kAddress;
  bits_ = 0;
  shift_ = 0;
  sda_released_ = true;
  device_->on_start(now);
}

void I2cTargetPort::on_stop(SimTime now) {
  state_ = State::kIdle;
  sda_released_ = true;
  device_->on_stop(now);
}

void I2cTargetPort::on_scl_rise(bool sda_line, SimTime) {
  switch (state_) {
    case State::kAddress:
    case State::kReceiving:
      shift_ = static_cast<std::uint8_t>((shift_ << 1) | (sda_line ? 1 : 0));
      ++bits_;
      break;
    case State::kTransmitting:
      ++bits_;
      break;
    case State::kMasterAck:
      master_acked_ = !sda_line;
      break;
    default:
      break;
  }
}

void I2cTargetPort::on_scl_fall(SimTime now) {
  switch (state_) {
    case State::kAddress:
      if (bits_ < 8) return;
      // Once the fault refuses a byte it refuses every later one: the device is not asked.
      if (!fault_refuses_next() && device_->on_address(shift_, now)) {
        ++acknowledged_;
        reading_ = (shift_ & 0x01) != 0;
        sda_released_ = false;
        state_ = State::kAckAddress;
      } else {
        state_ = State::kIdle;  // not for us: wait for the next start
      }
      return;
    case State::kAckAddress:
      if (reading_) {
        load_next_byte(now);
      } else {
        sda_released_ = true;
        state_ = State::kReceiving;
        bits_ = 0;
        shift_ = 0;
      }
      return;
    case State::kReceiving:
      if (bits_ < 8) return;
      if (!fault_refuses_next() && device_->on_byte_written(shift_, now)) {
        ++acknowledged_;
        sda_released_ = false;
        state_ = State::kAckByte;
      } else {
        state_ = State::kIdle;  // not acknowledged: the device ignores the rest
      }
      return;
    case State::kAckByte:
      sda_released_ = true;
      state_ = State::kReceiving;
      bits_ = 0;
      shift_ = 0;
      return;
    case State::kTransmitting:
      if (bits_ < 8) {
        drive_current_bit();
      } else {
        sda_released_ = true;  // the master drives the ninth bit
        state_ = State::kMasterAck;
      }
      return;
    case State::kMasterAck:
      if (master_acked_) {
        load_next_byte(now);
      } else {
        state_ = State::kIdle;  // not-acknowledge: the master ends the read
      }
      return;
    case State::kIdle:
      return;
  }
}

void I2cTargetPort::load_next_byte(SimTime now) {
  shift_ = device_->on_byte_wanted(now);
  bits_ = 0;
  state_ = State::kTransmitting;
  drive_current_bit();
}

void I2cTargetPort::drive_current_bit() {
  sda_released_ = ((shift_ >> (7 - bits_)) & 1) != 0;
}

}  // namespace sim
