// Pieces every device transaction is made of: a byte sent and its acknowledge read on the ninth
// clock, the stop that ends a transaction when a byte was refused, and the opening of a register
// read (write the register number, then turn the bus round with a repeated start).
#pragma once

#include "i2c_bus.h"

namespace devices {

inline constexpr int kReadBit = 0x01;  // R/W bit of the device-address byte
inline constexpr int kResultNotAcknowledged = 1;

// Sends one byte and reads the slave's acknowledge: true when acknowledged.
inline bool send_acknowledged(int byte) {
  I2C_WriteByte(byte);
  return I2C_ReadBit() == 0;
}

// Ends a transaction at a refused byte: stop condition, result 1.
inline int stop_not_acknowledged() {
  I2C_Stop();
  return kResultNotAcknowledged;
}

// Start, write address, one byte (register, command or word address), repeated start, read
// address. true when all three were acknowledged: the device then sends its first byte. false at
// the first refusal, before any stop.
inline bool open_read(int write_address, int first_byte) {
  I2C_Start();
  if (!send_acknowledged(write_address)) return false;
  if (!send_acknowledged(first_byte)) return false;
  I2C_Start();  // repeated start: no stop before it
  return send_acknowledged(write_address | kReadBit);
}

}  // namespace devices
