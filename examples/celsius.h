// Text of a thermometer reading in degrees Celsius. Readings come as the device's 16-bit
// register in 1/256 degree, two's complement below zero but never sign-extended in the int that
// carries them (0xFF00 is -1 degree), so the low 16 bits are taken as a signed value first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// `decimals` 1 to 3; the value is rounded half away from zero, and a value that rounds to zero
// prints without a sign.
inline std::string celsius_text(int reading, int decimals) {
  const int sixteen_bits = static_cast<std::int16_t>(reading & 0xFFFF);
  int scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const bool negative = sixteen_bits < 0;
  const int magnitude = negative ? -sixteen_bits : sixteen_bits;
  const int rounded = (magnitude * scale + 128) / 256;
  char text[24];
  std::snprintf(text, sizeof text, "%s%d.%0*d", negative && rounded != 0 ? "-" : "",
                rounded / scale, decimals, rounded % scale);
  return text;
}
