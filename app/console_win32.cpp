// Windows console. Output buffering is the C runtime's own: on a console each printf reaches the
// screen before it returns, to a file or a pipe output is fully buffered (4,096 bytes), and text
// mode turns each line feed into CR LF. The key wait blocks on the console's input between
// keystroke-pending tests; a key press that counts stays in the input for whatever reads next.
#include <conio.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

#include "console.h"

namespace {

// The C runtime validates the file descriptor behind a stream, and its default answer to an
// invalid one (standard output closed by the parent) is to end the process. With this handler
// the failing call returns an error instead, as a write to a broken pipe already does.
void ignore_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                              std::uintptr_t) {}

// Input events looked at per round: more than a burst of mouse moves usually holds.
constexpr DWORD kEventsPerRound = 64;

// The oldest pending events, without taking them; nullopt when the input cannot be looked at.
std::optional<DWORD> peek_events(HANDLE keyboard,
                                 std::array<INPUT_RECORD, kEventsPerRound>& events) {
  DWORD count = 0;
  if (!PeekConsoleInputA(keyboard, events.data(), kEventsPerRound, &count)) return std::nullopt;
  return count;
}

}  // namespace

void CONSOLE_PrepareOutput() {
  _set_invalid_parameter_handler(ignore_invalid_parameter);
}

void CONSOLE_WaitForKey() {
  const HANDLE keyboard =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (keyboard == INVALID_HANDLE_VALUE) return;  // no console keyboard: waiting would never end

  // The input handle is signalled while any event is pending, also one that is not a key press
  // (a key release, Shift alone, the mouse, a change of focus). Events that the pending-key test
  // has looked at and not counted are taken out of the input, so the next wait blocks until
  // something new arrives; the events are compared before and after the test, so that nothing
  // that arrived meanwhile is taken.
  std::array<INPUT_RECORD, kEventsPerRound> before{};
  std::array<INPUT_RECORD, kEventsPerRound> after{};
  while (WaitForSingleObject(keyboard, INFINITE) == WAIT_OBJECT_0) {
    // Cleared first: records are compared byte for byte, padding and unused union members too.
    before = {};
    after = {};
    const auto seen = peek_events(keyboard, before);
    if (_kbhit() != 0) break;
    const auto still = peek_events(keyboard, after);
    if (!seen || !still) break;  // the input cannot be watched: waiting would spin
    if (*seen != 0 && *still >= *seen &&
        std::memcmp(before.data(), after.data(), *seen * sizeof(INPUT_RECORD)) == 0) {
      DWORD taken = 0;
      ReadConsoleInputA(keyboard, after.data(), *seen, &taken);
    }
  }
  CloseHandle(keyboard);
}
