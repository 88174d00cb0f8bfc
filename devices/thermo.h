// Digital thermometers with the DS1621 command set, up to eight on one bus, selected by a 3-bit
// device number (device address 1001 A2 A1 A0 R/W): one-shot configuration, start of a
// conversion, the done flag, and the temperature at half-degree or high resolution. The
// thermostat registers (TH, TL) and stop convert are not used.
#pragma once

// Result codes of the thermometer operations.
inline constexpr int kThermoDone = 0;
inline constexpr int kThermoNotAcknowledged = 1;

// Configuration register bits.
inline constexpr int kThermoConfigConversionDone = 0x80;
inline constexpr int kThermoConfigPolarity = 0x02;
inline constexpr int kThermoConfigOneShot = 0x01;

// Temperatures come back as the 16-bit register in 1/256 degree Celsius, never sign-extended:
// below 0 degrees the temperature is the two's-complement value of the low 16 bits (0xFF00 is
// -1 degree). Callers convert with static_cast<std::int16_t>(value & 0xFFFF).

// *config is set to 0 before any bus traffic and to the configuration byte on success.
int THERMO_ReadConfig(int device, int* config);
// Writes config & 0xFF to the configuration register.
int THERMO_WriteConfig(int device, int config);
// Selects one-shot mode (configuration 0x01, polarity bit 0) unless the one-shot bit is already
// set with polarity 0, in which case nothing is written.
int THERMO_SetOneShot(int device);
int THERMO_StartConversion(int device);
// *done = 1 when the conversion is complete, 0 while it runs; also 1 (with result 1) when the
// device does not acknowledge, so that a caller waiting for done stops waiting.
int THERMO_IsConversionDone(int device, int* done);
// The temperature register, in half-degree steps: first byte x 256 + second byte. *raw is written
// only on success.
int THERMO_ReadTemperature(int device, int* raw);
// The high-resolution temperature from the temperature, slope and counter registers:
// first byte x 256 - 64 + ((slope - counter) x 256) / slope, in 1/256 degree. *value is written
// only on success.
int THERMO_ReadTemperatureFine(int device, int* value);
