// Serial EEPROM of the 24C16 kind: 2,048 bytes, an 8-bit word address sent on the bus and a
// 3-bit block number in the device-address byte (1010 b2 b1 b0 R/W). Byte-level random read and
// byte write with acknowledge polling; no page writes, no sequential reads.
#pragma once

// Result codes of the EEPROM operations.
inline constexpr int kEepromDone = 0;
inline constexpr int kEepromNotAcknowledged = 1;
inline constexpr int kEepromNoTypeSelected = 2;

// Acknowledge polls after a write before the write is given up with result 1. One polling cycle
// is 31 steps (start 4, device address 24, bit input 3). The adapter's bit-bang clock runs at
// 16 times the baud rate, so its fastest setting, 3 MBaud, gives 48,000,000 steps/s:
// 25 ms x 48,000,000 steps/s / 31 steps = 38,710 cycles, rounded up to 40,000. At the 57,600 baud
// the bus uses (921,600 steps/s), the polls alone take 1.35 s on the wire, far beyond any write
// cycle; each poll's three round trips to the adapter make it much longer in real time.
inline constexpr int kEepromMaxPolls = 40000;

// Type code 1 or 2 enables the operations below; any other code disables them.
void EEPROM_SelectType(int type);

// Random read of address & 0x7FF. *value is set to 0 before any bus traffic and to the byte read
// on success; it is left untouched when no type is selected (result 2).
int EEPROM_ReadByte(int address, int* value);

// Byte write of data & 0xFF to address & 0x7FF, then acknowledge polling until the device has
// finished its write cycle (at most kEepromMaxPolls cycles).
int EEPROM_WriteByte(int address, int data);
