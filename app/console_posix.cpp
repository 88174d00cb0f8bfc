// POSIX console: the controlling terminal (/dev/tty) is the keyboard. The wait switches it to
// non-canonical mode without echo, blocks in poll() until input is pending, and puts the saved
// mode back on every way out, including a signal during the wait.
#include "console.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {

constexpr std::size_t kOutputBufferSize = 4096;
std::array<char, kOutputBufferSize> g_output_buffer;

// Terminal state of the wait in progress, read by the signal handlers.
int g_tty = -1;
termios g_saved_mode{};
termios g_wait_mode{};

constexpr std::array kEndingSignals{SIGINT, SIGQUIT, SIGTERM, SIGHUP};
std::array<struct sigaction, kEndingSignals.size()> g_previous_ending{};
struct sigaction g_previous_tstp {};
struct sigaction g_previous_cont {};

// Standard streams that the parent left closed are pointed at /dev/null, so that no file this
// process opens later (the terminal, a file of the adapter library) takes their number and
// receives the report by accident.
void fill_closed_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      if (open("/dev/null", O_RDWR) == -1) return;
    }
  }
}

void set_handler(int signal_number, void (*handler)(int), struct sigaction* previous) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, previous);
}

// A signal that ends the process: restore the terminal, then let the signal do what it would have
// done.
void on_ending_signal(int signal_number) {
  tcsetattr(g_tty, TCSANOW, &g_saved_mode);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void on_continue(int);

// Ctrl-Z: hand the shell its terminal mode back before stopping; raw mode returns on SIGCONT.
void on_terminal_stop(int) {
  tcsetattr(g_tty, TCSANOW, &g_saved_mode);
  signal(SIGTSTP, SIG_DFL);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  raise(SIGTSTP);
}

void on_continue(int) {
  tcsetattr(g_tty, TCSANOW, &g_wait_mode);
  set_handler(SIGTSTP, on_terminal_stop, nullptr);
}

void install_handlers() {
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    set_handler(kEndingSignals[i], on_ending_signal, &g_previous_ending[i]);
  }
  set_handler(SIGTSTP, on_terminal_stop, &g_previous_tstp);
  set_handler(SIGCONT, on_continue, &g_previous_cont);
}

void restore_handlers() {
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    sigaction(kEndingSignals[i], &g_previous_ending[i], nullptr);
  }
  sigaction(SIGTSTP, &g_previous_tstp, nullptr);
  sigaction(SIGCONT, &g_previous_cont, nullptr);
}

// Opens the controlling terminal on a descriptor above the standard ones.
int open_terminal() {
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

}  // namespace

void CONSOLE_PrepareOutput() {
  fill_closed_standard_streams();
  // A reader that went away makes writes fail with EPIPE instead of killing the process.
  signal(SIGPIPE, SIG_IGN);
  if (isatty(STDOUT_FILENO) != 0) {
    // Unbuffered: the C library formats each printf whole and hands it over in one write.
    setvbuf(stdout, nullptr, _IONBF, 0);
  } else {
    setvbuf(stdout, g_output_buffer.data(), _IOFBF, g_output_buffer.size());
  }
}

void CONSOLE_WaitForKey() {
  g_tty = open_terminal();
  if (g_tty < 0) return;  // no terminal keyboard: waiting would never end
  if (tcgetattr(g_tty, &g_saved_mode) != 0) {
    close(g_tty);
    g_tty = -1;
    return;
  }
  g_wait_mode = g_saved_mode;
  g_wait_mode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  g_wait_mode.c_cc[VMIN] = 1;
  g_wait_mode.c_cc[VTIME] = 0;

  install_handlers();
  tcsetattr(g_tty, TCSANOW, &g_wait_mode);
  // Pending input is only looked at, never read. TCSANOW (not TCSAFLUSH) on the way back keeps it.
  pollfd keyboard{g_tty, POLLIN, 0};
  while (poll(&keyboard, 1, -1) < 0 && errno == EINTR) {
  }
  tcsetattr(g_tty, TCSANOW, &g_saved_mode);
  restore_handlers();
  close(g_tty);
  g_tty = -1;
}
