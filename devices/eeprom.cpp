// EEPROM transactions, each a complete bus transaction ending with a stop condition.
#include "eeprom.h"

#include "i2c_bus.h"
#include "transaction.h"

namespace {

using devices::open_read;
using devices::send_acknowledged;
using devices::stop_not_acknowledged;
static_assert(devices::kResultNotAcknowledged == kEepromNotAcknowledged);

constexpr int kEepromDeviceAddress = 0xA0;  // 1010 b2 b1 b0, write
constexpr int kAddressMask = 0x7FF;

int g_eeprom_enabled = 0;

int device_address_byte(int address) {
  return kEepromDeviceAddress + ((address >> 7) & 0x0E);
}

}  // namespace

void EEPROM_SelectType(int type) {
  g_eeprom_enabled = (type == 1 || type == 2) ? 1 : 0;
}

int EEPROM_ReadByte(int address, int* value) {
  if (g_eeprom_enabled == 0) return kEepromNoTypeSelected;
  *value = 0;
  const int a = address & kAddressMask;
  const int device = device_address_byte(a);
  if (!open_read(device, a & 0xFF)) return stop_not_acknowledged();
  *value = I2C_ReadByte();
  I2C_ReadBit();  // ninth clock with SDA released: the master's not-acknowledge
  I2C_Stop();
  return kEepromDone;
}

int EEPROM_WriteByte(int address, int data) {
  if (g_eeprom_enabled == 0) return kEepromNoTypeSelected;
  const int a = address & kAddressMask;
  const int device = device_address_byte(a);
  I2C_Start();
  if (!send_acknowledged(device)) return stop_not_acknowledged();
  if (!send_acknowledged(a & 0xFF)) return stop_not_acknowledged();
  if (!send_acknowledged(data & 0xFF)) return stop_not_acknowledged();
  I2C_Stop();  // the EEPROM starts its internal write cycle
  // While the write cycle lasts the device does not acknowledge its address. Polls follow each
  // other with a new start condition and no stop between them.
  for (int poll = 0; poll < kEepromMaxPolls; ++poll) {
    I2C_Start();
    if (send_acknowledged(device)) {
      I2C_Stop();
      return kEepromDone;
    }
  }
  return stop_not_acknowledged();
}
