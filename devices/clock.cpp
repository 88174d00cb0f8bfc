// Clock/calendar transactions, each a complete bus transaction ending with a stop condition.
// Every acknowledge is tested before the first byte is read, so a missing one leaves the outputs
// at the 0 written first.
#include "clock.h"

#include <algorithm>

#include "i2c_bus.h"
#include "transaction.h"

namespace {

using devices::open_read;
using devices::send_acknowledged;
using devices::stop_not_acknowledged;
static_assert(devices::kResultNotAcknowledged == kClockNotAcknowledged);

constexpr int kClockDeviceAddress = 0xA0;  // 1010 00 A0, write
constexpr int kDeviceSelectShift = 1;      // A0 sits in bit 1 of the address byte
constexpr int kByteMask = 0xFF;

// Register addresses; the clock advances its register pointer after each byte.
constexpr int kRegControl = 0x00;
constexpr int kRegSeconds = 0x02;

// Control/status register values.
constexpr int kControlCount = 0x00;
constexpr int kControlStop = 0x80;

constexpr int kHundredthsZero = 0x00;
constexpr int kDateDay1Year0 = 0x01;  // year/date register: day 1, year 0
constexpr int kWeekdayShift = 5;      // weekday in bits 7..5, month (written as 0) in bits 4..0
constexpr int kHoursMask = 0x3F;      // 24-hour form in bits 5..0; bits 7..6 are format flags

constexpr int kMaxWeekday = 6;
constexpr int kMaxHours = 23;
constexpr int kMaxMinutes = 59;
constexpr int kMaxSeconds = 59;

int write_address(int device) {
  return kClockDeviceAddress + ((device & 1) << kDeviceSelectShift);
}

int clamp_field(int value, int upper) {
  return std::clamp(value, 0, upper);
}

int to_bcd(int value) {
  return (value / 10) * 16 + value % 10;
}

// Does not check that the digits are BCD: 0xFF gives 165.
int from_bcd(int byte) {
  return (byte >> 4) * 10 + (byte & 0x0F);
}

// Write transaction whose last byte's acknowledge decides the result; the stop comes in either
// case.
int write_register(int address, int reg, int value) {
  I2C_Start();
  if (!send_acknowledged(address)) return stop_not_acknowledged();
  if (!send_acknowledged(reg & kByteMask)) return stop_not_acknowledged();
  const bool acknowledged = send_acknowledged(value & kByteMask);
  I2C_Stop();
  return acknowledged ? kClockDone : kClockNotAcknowledged;
}

int read_acknowledged() {
  const int byte = I2C_ReadByte();
  I2C_SendAck(0);
  return byte;
}

}  // namespace

int CLOCK_Start(int device) {
  return write_register(write_address(device), kRegControl, kControlCount);
}

int CLOCK_SetTime(int device, int weekday, int hours, int minutes, int seconds) {
  const int address = write_address(device);
  const int bytes[] = {
      kRegControl,
      kControlStop,
      kHundredthsZero,
      to_bcd(clamp_field(seconds, kMaxSeconds)),
      to_bcd(clamp_field(minutes, kMaxMinutes)),
      to_bcd(clamp_field(hours, kMaxHours)),
      kDateDay1Year0,
      clamp_field(weekday, kMaxWeekday) << kWeekdayShift,
  };
  I2C_Start();
  if (!send_acknowledged(address)) return stop_not_acknowledged();
  for (const int byte : bytes) {
    // A failure after the stop byte was taken leaves the clock stopped: no restart follows an
    // incomplete setting.
    if (!send_acknowledged(byte)) return stop_not_acknowledged();
  }
  I2C_Stop();
  return write_register(address, kRegControl, kControlCount);
}

int CLOCK_GetTime(int device, int* weekday, int* hours, int* minutes, int* seconds) {
  *weekday = 0;
  *hours = 0;
  *minutes = 0;
  *seconds = 0;
  if (!open_read(write_address(device), kRegSeconds)) return stop_not_acknowledged();
  *seconds = from_bcd(read_acknowledged());
  *minutes = from_bcd(read_acknowledged());
  *hours = from_bcd(read_acknowledged() & kHoursMask);
  read_acknowledged();  // year/date: not part of the time of day
  const int weekday_month = I2C_ReadByte();
  I2C_SendAck(1);  // not-acknowledge: the last byte read
  *weekday = weekday_month >> kWeekdayShift;
  I2C_Stop();
  return kClockDone;
}

int CLOCK_WriteRegister(int device, int reg, int value) {
  return write_register(write_address(device), reg, value);
}

int CLOCK_ReadRegister(int device, int reg, int* value) {
  *value = 0;
  if (!open_read(write_address(device), reg & kByteMask)) return stop_not_acknowledged();
  *value = I2C_ReadByte();
  I2C_SendAck(1);  // not-acknowledge: the only byte read
  I2C_Stop();
  return kClockDone;
}
