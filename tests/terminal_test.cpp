// The tester on a terminal (a pseudo-terminal that the test holds the other end of): records
// reach the screen as they are printed, the key wait switches echo and line editing off, ends on
// a key press that it leaves pending, restores the terminal mode on every way out, and sleeps
// rather than spins while it waits.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The tester started in a session of its own whose controlling terminal is a new pseudo-terminal;
// standard input, output and error are the terminal.
class TerminalRun {
 public:
  explicit TerminalRun(std::string call_delay_us = "0") {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    grantpt(master_);
    unlockpt(master_);
    const std::string slave_name = ptsname(master_);
    // The test's own view of the terminal, to read its mode and what is left in its input.
    slave_ = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(slave_, 0);
    tcgetattr(slave_, &initial_mode_);

    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      const int terminal = open(slave_name.c_str(), O_RDWR);  // becomes the controlling terminal
      dup2(terminal, 0);
      dup2(terminal, 1);
      dup2(terminal, 2);
      for (int fd = 3; fd < 256; ++fd) close(fd);
      setenv("LD_LIBRARY_PATH", SIM_ADAPTER_DIR, 1);
      setenv("FTSIM_CALL_DELAY_US", call_delay_us.c_str(), 1);
      unsetenv("FTSIM_DEVICES");
      unsetenv("FTSIM_FAULTS");
      unsetenv("FTSIM_LOG");
      execl(EEPROM_TEST_EXE, EEPROM_TEST_EXE, static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  ~TerminalRun() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(slave_);
    close(master_);
  }

  // Reads what the tester printed until `text` has appeared or the time is up.
  bool read_until(const std::string& text, std::chrono::milliseconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (screen_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd output{master_, POLLIN, 0};
      if (poll(&output, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return false;
      screen_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  // Reads whatever else the terminal has shown, without waiting.
  void drain() {
    pollfd output{master_, POLLIN, 0};
    char buffer[4096];
    while (poll(&output, 1, 100) > 0) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return;
      screen_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  void type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Waits for the tester to end; the raw wait status, or -1 when it is still running.
  int wait_for_exit(std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return status;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  void send(int signal_number) { kill(pid_, signal_number); }

  bool running() {
    int status = 0;
    return !exited_ && waitpid(pid_, &status, WNOHANG) == 0;
  }

  termios mode() const {
    termios now{};
    tcgetattr(slave_, &now);
    return now;
  }

  // What is pending in the terminal's input, read without waiting for a line end.
  std::string pending_input() {
    termios raw = mode();
    raw.c_lflag &= static_cast<tcflag_t>(~ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(slave_, TCSANOW, &raw);
    char buffer[64];
    const ssize_t n = read(slave_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }

  // Processor time the tester has used so far, in clock ticks.
  long cpu_ticks() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long user = 0;
    long system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) user = std::stol(field);
      if (i == 15) system = std::stol(field);
    }
    return user + system;
  }

  const termios& initial_mode() const { return initial_mode_; }
  const std::string& screen() const { return screen_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  termios initial_mode_{};
  std::string screen_;
};

bool same_mode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

TEST(Terminal, EachRecordReachesTheScreenAsItIsPrinted) {
  // A slow adapter: the run takes long enough to tell "as printed" from "at the end".
  TerminalRun run("100");
  ASSERT_TRUE(run.read_until("0000 0 ff ")) << run.screen();
  EXPECT_EQ(run.screen().find("Ecriture"), std::string::npos)
      << "the first record arrived only together with later passes";
  // A record is whole when it arrives, although no line break follows it.
  ASSERT_TRUE(run.read_until("0001 0 ff ")) << run.screen();
  EXPECT_EQ(run.screen().find("Ecriture"), std::string::npos);
}

TEST(Terminal, KeyWaitEndsOnAKeyPressAndLeavesItPending) {
  TerminalRun run;
  ASSERT_TRUE(run.read_until("Hit any key ")) << run.screen();
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(run.running()) << "the tester did not wait for a key";
  // While waiting: no echo, no waiting for Enter.
  EXPECT_EQ(run.mode().c_lflag & (ECHO | ICANON), 0u);

  run.type("k");
  const int status = run.wait_for_exit();
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(same_mode(run.mode(), run.initial_mode())) << "terminal mode not restored";
  EXPECT_EQ(run.pending_input(), "k") << "the key press was consumed";
  run.drain();
  const std::string prompt = "Hit any key ";
  EXPECT_EQ(run.screen().substr(run.screen().find(prompt) + prompt.size()), "")
      << "the key was echoed";
}

TEST(Terminal, KeyPressedBeforeTheWaitEndsItAtOnce) {
  TerminalRun run("20");
  ASSERT_TRUE(run.read_until("Lecture initiale")) << run.screen();
  run.type("x");
  ASSERT_TRUE(run.read_until("Hit any key ")) << run.screen();
  const int status = run.wait_for_exit();
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_TRUE(same_mode(run.mode(), run.initial_mode()));
  // Line editing is back on, so the pending key waits for a line end; it is still there.
  EXPECT_EQ(run.pending_input(), "x");
}

TEST(Terminal, WaitSleepsInsteadOfSpinning) {
  TerminalRun run;
  ASSERT_TRUE(run.read_until("Hit any key ")) << run.screen();
  std::this_thread::sleep_for(100ms);
  const long before = run.cpu_ticks();
  std::this_thread::sleep_for(1000ms);
  const long used = run.cpu_ticks() - before;
  // A core spinning for a second would use about sysconf(_SC_CLK_TCK) ticks.
  EXPECT_LE(used, sysconf(_SC_CLK_TCK) / 10) << "the key wait used " << used << " ticks in 1 s";
  run.type(" ");
  EXPECT_EQ(run.wait_for_exit(), 0);
}

struct Interruption {
  const char* name;
  int signal_number;
  const char* keys;  // typed instead of sending the signal, when not null
};

void PrintTo(const Interruption& interruption, std::ostream* out) {
  *out << interruption.name;
}

class TerminalInterrupted : public testing::TestWithParam<Interruption> {};

TEST_P(TerminalInterrupted, RestoresTheTerminalModeAndEndsAsTheSignalSays) {
  TerminalRun run;
  ASSERT_TRUE(run.read_until("Hit any key ")) << run.screen();
  std::this_thread::sleep_for(100ms);
  ASSERT_NE(run.mode().c_lflag & ICANON, run.initial_mode().c_lflag & ICANON);
  const Interruption& interruption = GetParam();
  if (interruption.keys != nullptr) {
    run.type(interruption.keys);
  } else {
    run.send(interruption.signal_number);
  }
  const int status = run.wait_for_exit();
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), interruption.signal_number);
  EXPECT_TRUE(same_mode(run.mode(), run.initial_mode())) << "terminal mode not restored";
}

INSTANTIATE_TEST_SUITE_P(Keys, TerminalInterrupted,
                         testing::Values(Interruption{"CtrlC", SIGINT, "\x03"},
                                         Interruption{"CtrlBackslash", SIGQUIT, "\x1c"},
                                         Interruption{"Terminate", SIGTERM, nullptr},
                                         Interruption{"HangUp", SIGHUP, nullptr}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
