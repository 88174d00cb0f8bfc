// The Windows build of the tester, run under wine on every end-to-end bench and compared with the
// native build's report on the same bench: the same text once each CR LF is read as a line feed,
// no bare line feed, exit status 0. Also checks the Windows binaries themselves: plain export
// names, no MinGW runtime DLL needed, and a driver library found only where it may be looked for.
// Output buffering is not checked here: wine's C runtime flushes at every line end.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "process.h"
#include "scenarios.h"
#include "sim_variables.h"

namespace {

namespace fs = std::filesystem;

const std::string kInitErrorCrLf = "Erreur a l'initialisation I2C\r\nHit any key ";

std::string read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Settings every wine process of the run shares: a private prefix, no debug chatter, and no
// prompts to install the .NET and HTML engines.
std::vector<std::pair<std::string, std::string>> wine_environment() {
  return {
      {"WINEPREFIX", WINE_PREFIX}, {"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="}};
}

// Runs a wine command with its output discarded: helper processes that wine leaves running
// (services, device drivers) inherit the output and would keep a pipe open.
int run_quietly(const std::vector<std::string>& argv) {
  const auto settings = wine_environment();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    for (const auto& [name, value] : settings) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The processes wine started in this run's private prefix, found by their environment.
std::vector<pid_t> processes_in_prefix() {
  const std::string wanted = std::string("WINEPREFIX=") + WINE_PREFIX;
  std::vector<pid_t> found;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string environment = read_file(entry.path() / "environ");
    for (std::size_t at = 0; at < environment.size();) {
      const std::size_t end = environment.find('\0', at);
      if (environment.compare(at, end - at, wanted) == 0) {
        found.push_back(static_cast<pid_t>(std::stol(name)));
        break;
      }
      at = end == std::string::npos ? environment.size() : end + 1;
    }
  }
  return found;
}

// One wineserver for the whole run, started here and ended by its own process id, together with
// the helper processes wine started in the run's prefix.
class WineServer : public testing::Environment {
 public:
  void SetUp() override {
    fs::create_directories(WINE_PREFIX);
    const auto settings = wine_environment();
    server_ = fork();
    if (server_ == 0) {
      setsid();
      for (const auto& [name, value] : settings) setenv(name.c_str(), value.c_str(), 1);
      // Foreground, so that this process id is the server's; persistent between wine processes.
      execlp(WINESERVER, WINESERVER, "-f", "-p", static_cast<char*>(nullptr));
      _exit(127);
    }
    // The first wine process creates or updates the prefix: a one-time cost of some seconds.
    ASSERT_EQ(run_quietly({WINE, "wineboot"}), 0);
  }

  void TearDown() override {
    for (const pid_t pid : processes_in_prefix()) {
      if (pid != server_ && pid != getpid()) kill(pid, SIGKILL);
    }
    if (server_ <= 0) return;
    kill(server_, SIGTERM);
    int status = 0;
    waitpid(server_, &status, 0);
  }

 private:
  pid_t server_ = -1;
};

const testing::Environment* const g_wine_server = testing::AddGlobalTestEnvironment(new WineServer);

// Windows text as written in text mode: every line feed must come as CR LF. Returns the text with
// LF line ends, or nullopt when a bare LF (or a CR not followed by LF) is found.
std::optional<std::string> from_crlf(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') return std::nullopt;
    if (text[i] == '\r') {
      if (i + 1 >= text.size() || text[i + 1] != '\n') return std::nullopt;
      ++i;
    }
    out += text[i];
  }
  return out;
}

// A scratch folder per test: one folder for the native run, one for the Windows run.
class WindowsRun : public testing::Test {
 protected:
  void SetUp() override {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '.');
    root_ = fs::temp_directory_path() /
            ("eeprom-test-windows-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(root_);
    fs::create_directories(native_dir());
    fs::create_directories(windows_dir());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path native_dir() const { return root_ / "native"; }
  fs::path windows_dir() const { return root_ / "windows"; }

  // The settings of a scenario with every file named relative to the working folder, so that the
  // same names serve the native process and the Windows one.
  static ProcessOptions common_options(const Scenario& scenario, const fs::path& folder) {
    ProcessOptions options;
    options.unset = simulator_and_loader_variables();
    options.set = scenario.settings;
    options.working_directory = folder.string();
    options.set.emplace_back("FTSIM_LOG", "calls.log");
    if (scenario.library == AdapterLibrary::kPartial) {
      options.set.emplace_back("PARTIAL_ADAPTER_MARK", "opened");
    }
    if (scenario.preloaded_image) {
      const auto content = preloaded_content();
      std::ofstream(folder / "eeprom.bin", std::ios::binary)
          .write(reinterpret_cast<const char*>(content.data()),
                 static_cast<std::streamsize>(content.size()));
      options.set.emplace_back("FTSIM_EEPROM_IMAGE", "eeprom.bin");
    }
    return options;
  }

  ProcessResult run_native(const Scenario& scenario) {
    ProcessOptions options = common_options(scenario, native_dir());
    options.argv = {EEPROM_TEST_EXE};
    if (scenario.library == AdapterLibrary::kSimulated) {
      options.set.emplace_back("LD_LIBRARY_PATH", SIM_ADAPTER_DIR);
    } else if (scenario.library == AdapterLibrary::kPartial) {
      options.set.emplace_back("LD_LIBRARY_PATH", PARTIAL_ADAPTER_DIR);
    }
    return run_process(options);
  }

  // The Windows tester in a folder of its own with the scenario's driver library beside it.
  ProcessOptions windows_options(const Scenario& scenario) {
    const fs::path build = WINE_BUILD_DIR;
    fs::copy_file(build / "eeprom-test.exe", windows_dir() / "eeprom-test.exe");
    if (scenario.library == AdapterLibrary::kSimulated) {
      fs::copy_file(build / "sim-adapter" / "Ftd2xx.dll", windows_dir() / "Ftd2xx.dll");
    } else if (scenario.library == AdapterLibrary::kPartial) {
      fs::copy_file(build / "partial-adapter" / "Ftd2xx.dll", windows_dir() / "Ftd2xx.dll");
    }
    ProcessOptions options = common_options(scenario, windows_dir());
    options.argv = {WINE, "eeprom-test.exe"};
    for (const auto& setting : wine_environment()) options.set.push_back(setting);
    return options;
  }

  fs::path root_;
};

class WineScenario : public WindowsRun, public testing::WithParamInterface<Scenario> {};

TEST_P(WineScenario, PrintsTheNativeReportWithCrLfAndExitsWithZero) {
  const Scenario& scenario = GetParam();
  const ProcessResult native = run_native(scenario);
  const ProcessResult windows = run_process(windows_options(scenario));
  ASSERT_FALSE(native.timed_out);
  ASSERT_FALSE(windows.timed_out);
  EXPECT_EQ(native.exit_code, 0);
  EXPECT_EQ(windows.exit_code, 0) << windows.err;

  ASSERT_FALSE(native.out.empty());
  const auto text = from_crlf(windows.out);
  ASSERT_TRUE(text.has_value()) << "a line feed without CR, or a lone CR:\n" << windows.out;
  EXPECT_EQ(*text, native.out);

  // Both runs leave the EEPROM image alike, and the partial library is never opened.
  if (scenario.preloaded_image) {
    EXPECT_EQ(read_file(windows_dir() / "eeprom.bin"), read_file(native_dir() / "eeprom.bin"));
  }
  EXPECT_EQ(fs::exists(windows_dir() / "opened"), fs::exists(native_dir() / "opened"));
}

INSTANTIATE_TEST_SUITE_P(Benches, WineScenario, testing::ValuesIn(end_to_end_scenarios()),
                         [](const auto& info) { return info.param.name; });

TEST_F(WindowsRun, DriverLibraryOnlyInTheWorkingDirectoryIsNotLoaded) {
  // The tester sits alone in its folder; a simulated driver waits in the folder it is started
  // from. Loading it would print a report and write its call log there.
  const fs::path program = windows_dir() / "eeprom-test.exe";
  fs::copy_file(fs::path(WINE_BUILD_DIR) / "eeprom-test.exe", program);
  fs::copy_file(fs::path(WINE_BUILD_DIR) / "sim-adapter" / "Ftd2xx.dll",
                native_dir() / "Ftd2xx.dll");
  ProcessOptions options = common_options(Scenario{"blank_eeprom", {}}, native_dir());
  options.argv = {WINE, program.string()};
  for (const auto& setting : wine_environment()) options.set.push_back(setting);
  const ProcessResult run = run_process(options);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, kInitErrorCrLf);
  EXPECT_FALSE(fs::exists(native_dir() / "calls.log")) << "the planted library was loaded";
}

TEST_F(WindowsRun, ClosedOrBrokenOutputNeitherCrashesNorChangesTheStatus) {
  const Scenario blank = end_to_end_scenarios().front();
  for (const auto output : {ProcessOptions::Output::kClosed, ProcessOptions::Output::kBrokenPipe}) {
    fs::remove(windows_dir() / "eeprom-test.exe");
    fs::remove(windows_dir() / "Ftd2xx.dll");
    fs::remove(windows_dir() / "calls.log");
    ProcessOptions options = windows_options(blank);
    options.output = output;
    const ProcessResult run = run_process(options);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    // The summary line is written when the process ends normally, after all five passes.
    EXPECT_NE(read_file(windows_dir() / "calls.log").find("# 52680 calls"), std::string::npos);
  }
}

// The parts of a PE image these tests look at.
struct PeImage {
  std::uint16_t machine = 0;
  std::vector<std::string> exports;
  std::vector<std::string> imported_dlls;
};

class PeReader {
 public:
  explicit PeReader(std::string bytes) : bytes_(std::move(bytes)) {}

  std::optional<PeImage> read() {
    if (bytes_.size() < 0x40 || bytes_.compare(0, 2, "MZ") != 0) return std::nullopt;
    const std::uint32_t pe = u32(0x3C);
    if (bytes_.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return std::nullopt;
    const std::size_t coff = pe + 4;
    PeImage image;
    image.machine = u16(coff);
    const std::uint16_t section_count = u16(coff + 2);
    const std::uint16_t optional_size = u16(coff + 16);
    const std::size_t optional = coff + 20;
    const bool pe32_plus = u16(optional) == 0x20B;
    const std::size_t directories = optional + (pe32_plus ? 112 : 96);
    for (std::size_t s = 0; s < section_count; ++s) {
      const std::size_t header = optional + optional_size + s * 40;
      sections_.push_back({u32(header + 12), u32(header + 8), u32(header + 20)});
    }
    if (const auto exports = offset_of(u32(directories))) {
      const std::uint32_t count = u32(*exports + 24);
      const auto names = offset_of(u32(*exports + 32));
      for (std::uint32_t i = 0; names && i < count; ++i) {
        if (const auto name = offset_of(u32(*names + 4 * i))) image.exports.push_back(text(*name));
      }
    }
    if (const auto imports = offset_of(u32(directories + 8))) {
      for (std::size_t entry = *imports; u32(entry + 12) != 0; entry += 20) {
        if (const auto name = offset_of(u32(entry + 12))) {
          image.imported_dlls.push_back(text(*name));
        }
      }
    }
    return image;
  }

 private:
  struct Section {
    std::uint32_t address;
    std::uint32_t size;
    std::uint32_t file_offset;
  };

  std::uint32_t byte(std::size_t at) const {
    return at < bytes_.size() ? static_cast<std::uint8_t>(bytes_[at]) : 0;
  }
  std::uint16_t u16(std::size_t at) const {
    return static_cast<std::uint16_t>(byte(at) | byte(at + 1) << 8);
  }
  std::uint32_t u32(std::size_t at) const {
    return byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 | byte(at + 3) << 24;
  }
  std::string text(std::size_t at) const {
    if (at >= bytes_.size()) return {};
    return std::string(bytes_.c_str() + at, strnlen(bytes_.c_str() + at, bytes_.size() - at));
  }
  std::optional<std::size_t> offset_of(std::uint32_t address) const {
    if (address == 0) return std::nullopt;
    for (const auto& section : sections_) {
      if (address >= section.address && address < section.address + section.size) {
        return std::size_t{section.file_offset} + (address - section.address);
      }
    }
    return std::nullopt;
  }

  std::string bytes_;
  std::vector<Section> sections_;
};

std::optional<PeImage> read_pe(const fs::path& path) {
  return PeReader(read_file(path)).read();
}

constexpr std::uint16_t kMachineI386 = 0x14C;

TEST(WindowsBinaries, TheThirtyTwoBitProgramAndItsDriverLibrariesAreI386) {
  const fs::path build = WIN32_BUILD_DIR;
  for (const auto& file : {build / "eeprom-test.exe", build / "sim-adapter" / "Ftd2xx.dll",
                           build / "partial-adapter" / "Ftd2xx.dll"}) {
    const auto image = read_pe(file);
    ASSERT_TRUE(image.has_value()) << file;
    EXPECT_EQ(image->machine, kMachineI386) << file;
  }
}

TEST(WindowsBinaries, DriverLibrariesExportThePlainEntryPointNames) {
  for (const fs::path& build : {fs::path(WIN32_BUILD_DIR), fs::path(WINE_BUILD_DIR)}) {
    const auto simulated = read_pe(build / "sim-adapter" / "Ftd2xx.dll");
    ASSERT_TRUE(simulated.has_value()) << build;
    // The export name table is sorted by name.
    EXPECT_EQ(simulated->exports,
              (std::vector<std::string>{"FT_GetBitMode", "FT_Open", "FT_SetBaudRate",
                                        "FT_SetBitMode", "FT_Write"}))
        << build;
    const auto partial = read_pe(build / "partial-adapter" / "Ftd2xx.dll");
    ASSERT_TRUE(partial.has_value()) << build;
    EXPECT_EQ(partial->exports, (std::vector<std::string>{"FT_Open", "FT_SetBitMode", "FT_Write"}))
        << build;
  }
}

TEST(WindowsBinaries, EntryPointsUseTheStdcallConvention) {
  // On 32-bit Windows the driver's entry points remove their own arguments from the stack: each
  // simulated entry point returns with "ret $N", N the bytes of its arguments. The compiler's own
  // name for the function (_FT_Open@8) carries the same count.
  ProcessOptions options;
  options.argv = {MINGW_OBJDUMP, "-d",
                  (fs::path(WIN32_BUILD_DIR) / "sim-adapter" / "Ftd2xx.dll").string()};
  const ProcessResult dump = run_process(options);
  ASSERT_EQ(dump.exit_code, 0) << dump.err;
  const std::vector<std::pair<std::string, int>> entry_points{{"FT_Open", 8},
                                                              {"FT_SetBaudRate", 8},
                                                              {"FT_SetBitMode", 12},
                                                              {"FT_Write", 16},
                                                              {"FT_GetBitMode", 8}};
  for (const auto& [name, argument_bytes] : entry_points) {
    const std::string label = "<_" + name + "@" + std::to_string(argument_bytes) + ">:";
    const auto begin = dump.out.find(label);
    ASSERT_NE(begin, std::string::npos)
        << name << " is not a stdcall function of " << argument_bytes << " argument bytes";
    const auto end = dump.out.find("\n\n", begin);
    const std::string body = dump.out.substr(begin, end - begin);
    char ret[16];
    std::snprintf(ret, sizeof ret, "ret    $0x%x", argument_bytes);
    EXPECT_NE(body.find(ret), std::string::npos) << name << " does not end with " << ret;
    EXPECT_EQ(body.find("\tret\n"), std::string::npos) << name << " returns like a cdecl function";
  }
}

TEST(WindowsBinaries, NeedOnlySystemLibraries) {
  // The compiler's runtime is linked in: nothing but Windows' own DLLs is imported.
  for (const fs::path& build : {fs::path(WIN32_BUILD_DIR), fs::path(WINE_BUILD_DIR)}) {
    for (const auto& file : {build / "eeprom-test.exe", build / "sim-adapter" / "Ftd2xx.dll"}) {
      const auto image = read_pe(file);
      ASSERT_TRUE(image.has_value()) << file;
      EXPECT_FALSE(image->imported_dlls.empty()) << file;
      for (std::string dll : image->imported_dlls) {
        std::transform(dll.begin(), dll.end(), dll.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_TRUE(dll == "kernel32.dll" || dll == "msvcrt.dll" || dll.starts_with("api-ms-win-"))
            << file << " imports " << dll;
      }
    }
  }
}

}  // namespace
