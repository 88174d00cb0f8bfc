// Thermometer transactions, each a complete bus transaction ending with a stop condition. No
// state is kept between operations.
#include "thermo.h"

#include "i2c_bus.h"
#include "transaction.h"

namespace {

using devices::open_read;
using devices::send_acknowledged;
using devices::stop_not_acknowledged;
static_assert(devices::kResultNotAcknowledged == kThermoNotAcknowledged);

constexpr int kThermoDeviceAddress = 0x90;  // 1001 A2 A1 A0, write
constexpr int kDeviceNumberMask = 0x07;

constexpr int kThermoCmdAccessConfig = 0xAC;
constexpr int kThermoCmdStartConvert = 0xEE;
constexpr int kThermoCmdReadTemperature = 0xAA;
constexpr int kThermoCmdReadSlope = 0xA9;
constexpr int kThermoCmdReadCounter = 0xA8;

constexpr int kOneShotConfig = kThermoConfigOneShot;  // one-shot, polarity 0
constexpr int kModeBits = kThermoConfigPolarity | kThermoConfigOneShot;

// The high-resolution rule subtracts a quarter degree from the truncated whole degrees.
constexpr int kQuarterDegree = 64;
constexpr int kStepsPerDegree = 256;

int write_address_byte(int device) {
  return kThermoDeviceAddress + (device & kDeviceNumberMask) * 2;
}

bool open_register_read(int device, int command) {
  return open_read(write_address_byte(device), command);
}

// One-byte register read inside a chain of repeated starts; the transfer ends with the master's
// not-acknowledge and no stop.
bool read_one_byte(int device, int command, int& byte) {
  if (!open_register_read(device, command)) return false;
  byte = I2C_ReadByte();
  I2C_SendAck(1);
  return true;
}

// The acknowledge of a transaction's last byte gives the result; the stop condition comes in
// either case.
int stop_with_last_acknowledge() {
  const bool acknowledged = I2C_ReadBit() == 0;
  I2C_Stop();
  return acknowledged ? kThermoDone : kThermoNotAcknowledged;
}

// (slope - counter) / slope of a degree in 1/256 degree, truncated toward zero; a counter above
// the slope gives a negative fraction. A slope of 0 gives no fraction rather than a division by
// zero.
int fraction_of_degree(int slope, int counter) {
  if (slope == 0) return 0;
  return ((slope - counter) * kStepsPerDegree) / slope;
}

}  // namespace

int THERMO_ReadConfig(int device, int* config) {
  *config = 0;
  if (!open_register_read(device, kThermoCmdAccessConfig)) return stop_not_acknowledged();
  *config = I2C_ReadByte();
  I2C_ReadBit();  // ninth clock with SDA released: the master's not-acknowledge
  I2C_Stop();
  return kThermoDone;
}

int THERMO_WriteConfig(int device, int config) {
  I2C_Start();
  if (!send_acknowledged(write_address_byte(device))) return stop_not_acknowledged();
  if (!send_acknowledged(kThermoCmdAccessConfig)) return stop_not_acknowledged();
  I2C_WriteByte(config & 0xFF);
  return stop_with_last_acknowledge();
}

int THERMO_SetOneShot(int device) {
  int config = 0;
  if (THERMO_ReadConfig(device, &config) != kThermoDone) return kThermoNotAcknowledged;
  if ((config & kModeBits) == kOneShotConfig) return kThermoDone;
  // The whole byte is written: the polarity bit goes back to 0 as well.
  return THERMO_WriteConfig(device, kOneShotConfig);
}

int THERMO_StartConversion(int device) {
  I2C_Start();
  if (!send_acknowledged(write_address_byte(device))) return stop_not_acknowledged();
  I2C_WriteByte(kThermoCmdStartConvert);
  return stop_with_last_acknowledge();
}

int THERMO_IsConversionDone(int device, int* done) {
  int config = 0;
  if (THERMO_ReadConfig(device, &config) != kThermoDone) {
    *done = 1;
    return kThermoNotAcknowledged;
  }
  *done = (config & kThermoConfigConversionDone) != 0 ? 1 : 0;
  return kThermoDone;
}

int THERMO_ReadTemperature(int device, int* raw) {
  if (!open_register_read(device, kThermoCmdReadTemperature)) return stop_not_acknowledged();
  const int first = I2C_ReadByte();
  I2C_SendAck(0);
  const int second = I2C_ReadByte();
  I2C_SendAck(1);
  I2C_Stop();
  *raw = first * 256 + second;
  return kThermoDone;
}

int THERMO_ReadTemperatureFine(int device, int* value) {
  // Three register reads chained by repeated starts, one stop at the end. Only the first byte of
  // the temperature is read: the half-degree bit is replaced by the count registers.
  int first = 0;
  int slope = 0;
  int counter = 0;
  if (!read_one_byte(device, kThermoCmdReadTemperature, first) ||
      !read_one_byte(device, kThermoCmdReadSlope, slope) ||
      !read_one_byte(device, kThermoCmdReadCounter, counter)) {
    return stop_not_acknowledged();
  }
  I2C_Stop();
  *value = first * kStepsPerDegree - kQuarterDegree + fraction_of_degree(slope, counter);
  return kThermoDone;
}
