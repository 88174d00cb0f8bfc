// Windows host services of the simulated adapter: real-time sleeps through a waitable timer, and
// file replacement through a flushed temporary file and one replacing move.
#include <windows.h>

#include <string>

#include "host.h"

namespace sim::host {

namespace {

// A high-resolution timer where the system has one (Windows 10 1803 on), a plain one elsewhere.
HANDLE delay_timer() {
  static const HANDLE timer = [] {
#if defined(CREATE_WAITABLE_TIMER_HIGH_RESOLUTION)
    if (HANDLE fine = CreateWaitableTimerExW(
            nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS)) {
      return fine;
    }
#endif
    return CreateWaitableTimerW(nullptr, TRUE, nullptr);
  }();
  return timer;
}

constexpr LONGLONG kTimerUnitsPerMicrosecond = 10;  // the timer counts 100 ns units

bool write_all(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(bytes.size() < 0x40000000 ? bytes.size() : 0x40000000);
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes = bytes.subspan(written);
  }
  return true;
}

}  // namespace

void sleep_microseconds(std::uint32_t microseconds) {
  const HANDLE timer = delay_timer();
  LARGE_INTEGER due{};
  due.QuadPart = -static_cast<LONGLONG>(microseconds) * kTimerUnitsPerMicrosecond;  // relative
  if (timer != nullptr && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(timer, INFINITE);
  } else {
    Sleep((microseconds + 999) / 1000);
  }
}

bool replace_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  // The new content goes to a file beside the old one, reaches the disk, and then takes the old
  // one's name in a single move that is itself written through before it returns.
  const std::string temporary = path + ".tmp" + std::to_string(GetCurrentProcessId());
  const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = write_all(file, bytes) && FlushFileBuffers(file);
  if (!CloseHandle(file) || !written ||
      !MoveFileExA(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace sim::host
