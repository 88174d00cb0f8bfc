// Example: sets a clock/calendar of the PCF8583 kind from the host's local time, reads it back
// and prints weekday and time. Usage: clock-example [device], device 0 or 1 (the clock's A0 pin,
// default 0). Exit status 0 when the clock took the time and reads it back unchanged, 1 on any
// failure, 2 on a bad argument. Weekdays are numbered as the C library does: 0 is Sunday.
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "clock.h"
#include "i2c_bus.h"

namespace {

constexpr std::array<const char*, 7> kWeekdayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                   "Thursday", "Friday", "Saturday"};
constexpr int kLastSecond = 59;  // a leap second (60) is set as 59

struct TimeOfDay {
  int weekday = 0;
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  bool operator==(const TimeOfDay&) const = default;
};

void print(const char* label, const TimeOfDay& time) {
  const bool named = time.weekday >= 0 && time.weekday < static_cast<int>(kWeekdayNames.size());
  std::printf("%s %s (weekday %d) %02d:%02d:%02d\n", label,
              named ? kWeekdayNames[static_cast<std::size_t>(time.weekday)] : "?", time.weekday,
              time.hours, time.minutes, time.seconds);
}

bool host_local_time(TimeOfDay& time) {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);  // single-threaded: the shared buffer is fine
  if (local == nullptr) return false;
  time = {local->tm_wday, local->tm_hour, local->tm_min, std::min(local->tm_sec, kLastSecond)};
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int device = 0;
  if (argc > 2 ||
      (argc == 2 && std::string_view(argv[1]) != "0" && std::string_view(argv[1]) != "1")) {
    std::fprintf(stderr, "usage: clock-example [0|1]   (the clock's A0 pin, default 0)\n");
    return 2;
  }
  if (argc == 2) device = argv[1][0] - '0';

  TimeOfDay set;
  if (!host_local_time(set)) {
    std::fprintf(stderr, "cannot read the host's local time\n");
    return 1;
  }
  if (I2C_Init() != 0) {
    std::fprintf(stderr, "cannot bring up the I2C bus\n");
    return 1;
  }
  if (CLOCK_SetTime(device, set.weekday, set.hours, set.minutes, set.seconds) != kClockDone) {
    std::fprintf(stderr, "the clock at device %d did not acknowledge setting the time\n", device);
    return 1;
  }
  print("set: ", set);

  TimeOfDay read;
  if (CLOCK_GetTime(device, &read.weekday, &read.hours, &read.minutes, &read.seconds) !=
      kClockDone) {
    std::fprintf(stderr, "the clock at device %d did not acknowledge reading the time\n", device);
    return 1;
  }
  print("read:", read);
  // Setting leaves hundredths at 0 and the read follows within milliseconds, so the clock must
  // give back what it was given.
  if (!(read == set)) {
    std::fprintf(stderr, "the clock reads back another time than it was set to\n");
    return 1;
  }
  return 0;
}
