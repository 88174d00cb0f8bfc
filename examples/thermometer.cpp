// Takes one one-shot reading from a DS1621-style thermometer and prints it in degrees Celsius at
// high resolution and at half-degree resolution. Usage: thermometer [device number 0..7],
// default 0. Exit status 0 with a reading, 1 when the bus or the device fails, 2 on bad usage.
#include <chrono>
#include <cstdio>
#include <string_view>

#include "celsius.h"
#include "i2c_bus.h"
#include "thermo.h"

namespace {

// A DS1621 converts in at most 1 s. A done poll is one configuration read, 120 steps of the
// adapter's bit-bang clock, which makes 921,600 steps/s at the bus's 57,600 baud: a poll lasts at
// least 130 us on the bus, so 16,000 polls cover at least 2 s. On a real adapter the USB round
// trips make every poll far longer, and the wall-clock limit ends the wait first.
constexpr int kMaxDonePolls = 16000;
constexpr auto kMaxWait = std::chrono::seconds(10);

constexpr int kHighResolutionDecimals = 2;
constexpr int kHalfDegreeDecimals = 1;

int fail(const char* what, int device) {
  std::fprintf(stderr, "thermometer: %s (device %d, address 0x%02X)\n", what, device,
               0x90 + device * 2);
  return 1;
}

bool parse_device(std::string_view text, int& device) {
  if (text.size() != 1 || text[0] < '0' || text[0] > '7') return false;
  device = text[0] - '0';
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int device = 0;
  if (argc > 2 || (argc == 2 && !parse_device(argv[1], device))) {
    std::fprintf(stderr, "usage: thermometer [device number 0..7]\n");
    return 2;
  }
  if (I2C_Init() != 0) {
    std::fprintf(stderr, "thermometer: the I2C bus cannot be brought up on the adapter\n");
    return 1;
  }
  if (THERMO_SetOneShot(device) != kThermoDone) {
    return fail("the thermometer does not acknowledge its configuration", device);
  }
  if (THERMO_StartConversion(device) != kThermoDone) {
    return fail("the thermometer does not acknowledge the start of a conversion", device);
  }

  const auto started = std::chrono::steady_clock::now();
  int done = 0;
  int polls = 0;
  while (true) {
    if (THERMO_IsConversionDone(device, &done) != kThermoDone) {
      return fail("the thermometer stopped acknowledging during the conversion", device);
    }
    ++polls;
    if (done == 1) break;
    if (polls >= kMaxDonePolls || std::chrono::steady_clock::now() - started >= kMaxWait) {
      const auto waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
      std::fprintf(stderr,
                   "thermometer: the conversion never reported done; gave up after %d polls and "
                   "%.1f s (device %d, address 0x%02X)\n",
                   polls, waited.count(), device, 0x90 + device * 2);
      return 1;
    }
  }

  int fine = 0;
  int raw = 0;
  if (THERMO_ReadTemperatureFine(device, &fine) != kThermoDone ||
      THERMO_ReadTemperature(device, &raw) != kThermoDone) {
    return fail("the thermometer does not acknowledge a temperature read", device);
  }
  std::printf("thermometer %d: %s C (high resolution), %s C (half-degree)\n", device,
              celsius_text(fine, kHighResolutionDecimals).c_str(),
              celsius_text(raw, kHalfDegreeDecimals).c_str());
  return 0;
}
