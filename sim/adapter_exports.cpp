// The simulated adapter library: the five driver entry points the bus uses, on a simulated bench
// (see bench.h for how a bench is chosen). Every call is counted and, when FTSIM_LOG names a
// file, logged on one line:
//
//   <call number> <entry point> <arguments> : <status> [<pin byte read>]
//
// with pin-state bytes in hex, for example "12 FT_Write 02 03 : 0" and "13 FT_GetBitMode : 0 fe".
// A summary line starting with '#' follows when the process ends. When FTSIM_TRACE names a file,
// the adapter also writes a waveform trace of the bus there (vcd_trace.h), completed when the
// process ends.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

#include "adapter_api.h"
#include "bench.h"
#include "host.h"
#include "pin_bus.h"
#include "vcd_trace.h"

#if defined(_WIN32)
#define SIM_EXPORT  // exported under their plain names through the module definition file
#else
#define SIM_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Statuses the simulated driver answers with, as the real driver numbers them.
constexpr FT_STATUS kInvalidHandle = 1;
constexpr FT_STATUS kDeviceNotFound = 2;
constexpr FT_STATUS kIoError = 4;
constexpr FT_STATUS kInvalidParameter = 6;
constexpr FT_STATUS kInvalidBaudRate = 7;

enum Entry { kOpen, kSetBaudRate, kSetBitMode, kWrite, kGetBitMode, kEntryCount };
constexpr std::array<const char*, kEntryCount> kEntryNames{
    "FT_Open", "FT_SetBaudRate", "FT_SetBitMode", "FT_Write", "FT_GetBitMode"};

class CallLog {
 public:
  ~CallLog() {
    if (file_ == nullptr) return;
    std::fprintf(file_, "# %llu calls:", static_cast<unsigned long long>(total_));
    for (int i = 0; i < kEntryCount; ++i) {
      std::fprintf(file_, " %s %llu", kEntryNames[static_cast<std::size_t>(i)],
                   static_cast<unsigned long long>(counts_[static_cast<std::size_t>(i)]));
    }
    std::fprintf(file_, "\n");
    close();
  }

  // Starts a new log for a newly opened adapter; false when the file cannot be written.
  bool open(const std::string& path) {
    close();
    total_ = 0;
    counts_ = {};
    if (path.empty()) return true;
    if (path == "-") {
      file_ = stderr;
      return true;
    }
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
  }

  std::uint64_t count(Entry entry) {
    ++counts_[static_cast<std::size_t>(entry)];
    ++total_;
    return counts_[static_cast<std::size_t>(entry)];
  }

  bool enabled() const { return file_ != nullptr; }

  void line(Entry entry, const std::string& arguments, FT_STATUS status, const char* out = "") {
    if (file_ == nullptr) return;
    std::fprintf(file_, "%llu %s%s : %lu%s\n", static_cast<unsigned long long>(total_),
                 kEntryNames[entry], arguments.c_str(), static_cast<unsigned long>(status), out);
    std::fflush(file_);
  }

 private:
  void close() {
    if (file_ != nullptr && file_ != stderr) std::fclose(file_);
    file_ = nullptr;
  }

  std::FILE* file_ = nullptr;
  std::uint64_t total_ = 0;
  std::array<std::uint64_t, kEntryCount> counts_{};
};

struct Adapter {
  sim::BenchConfig config;
  std::unique_ptr<sim::PinBus> bus;
  std::unique_ptr<sim::VcdTrace> trace;  // null unless traced: an untraced bus has no observer
};

CallLog g_log;
// The adapter, its bus and its trace live until the next FT_Open or the end of the process: the
// program never closes the adapter nor unloads the library, so the trace is completed by this
// object's destructor when the process exits.
std::unique_ptr<Adapter> g_adapter;

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  static constexpr char kDigits[] = "0123456789abcdef";
  for (const auto byte : bytes) {
    text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

// The adapter a handle names, after the real adapter's per-call delay.
Adapter* adapter_for(FT_HANDLE handle) {
  if (g_adapter == nullptr || handle != g_adapter.get()) return nullptr;
  if (g_adapter->config.call_delay_us != 0) {
    sim::host::sleep_microseconds(g_adapter->config.call_delay_us);
  }
  return g_adapter.get();
}

std::optional<std::string> from_environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace

extern "C" {

SIM_EXPORT FT_STATUS FT_API FT_Open(int index, FT_HANDLE* handle) {
  g_adapter.reset();
  std::string error;
  auto config = sim::parse_bench_config(from_environment, error);
  const bool logging = g_log.open(config ? config->log_path : std::string());
  if (!logging) error = "cannot write the call log " + config->log_path;
  g_log.count(kOpen);
  const std::string arguments = " " + std::to_string(index);
  auto fail = [&](FT_STATUS status) {
    if (!error.empty()) std::fprintf(stderr, "ftd2xx simulator: %s\n", error.c_str());
    g_log.line(kOpen, arguments, status);
    return status;
  };
  if (!config || !logging) return fail(kInvalidParameter);
  if (handle == nullptr) return fail(kInvalidParameter);
  if (index != 0 || config->faults.no_adapter) return fail(kDeviceNotFound);
  auto bus = sim::build_bus(*config, error);
  if (!bus) return fail(kInvalidParameter);
  std::unique_ptr<sim::VcdTrace> trace;
  if (!config->trace_path.empty()) {
    trace = sim::VcdTrace::create(config->trace_path, *bus, error);
    if (!trace) return fail(kInvalidParameter);
    bus->set_observer(trace.get());
  }
  g_adapter =
      std::make_unique<Adapter>(Adapter{std::move(*config), std::move(bus), std::move(trace)});
  *handle = g_adapter.get();
  g_log.line(kOpen, arguments, FT_OK);
  return FT_OK;
}

SIM_EXPORT FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baud_rate) {
  g_log.count(kSetBaudRate);
  Adapter* adapter = adapter_for(handle);
  FT_STATUS status = FT_OK;
  if (adapter == nullptr) {
    status = kInvalidHandle;
  } else if (adapter->config.faults.baud_refused || baud_rate == 0) {
    status = kInvalidBaudRate;
  } else {
    adapter->bus->set_baud_rate(baud_rate);
  }
  g_log.line(kSetBaudRate, " " + std::to_string(baud_rate), status);
  return status;
}

SIM_EXPORT FT_STATUS FT_API FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t mode) {
  g_log.count(kSetBitMode);
  Adapter* adapter = adapter_for(handle);
  FT_STATUS status = FT_OK;
  if (adapter == nullptr) {
    status = kInvalidHandle;
  } else if (adapter->config.faults.bit_mode_refused) {
    status = kIoError;
  } else {
    adapter->bus->set_bit_mode(mask, mode);
  }
  const std::array<std::uint8_t, 2> arguments{mask, mode};
  g_log.line(kSetBitMode, hex_bytes(arguments), status);
  return status;
}

SIM_EXPORT FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* bytes, std::uint32_t count,
                                     std::uint32_t* written) {
  const std::uint64_t call = g_log.count(kWrite);
  Adapter* adapter = adapter_for(handle);
  if (written != nullptr) *written = 0;
  std::span<const std::uint8_t> steps;
  FT_STATUS status = FT_OK;
  if (adapter == nullptr) {
    status = kInvalidHandle;
  } else if (bytes == nullptr && count != 0) {
    status = kInvalidParameter;
  } else {
    steps = {static_cast<const std::uint8_t*>(bytes), count};
    const auto fail_from = adapter->config.faults.write_fail_from;
    if (fail_from != 0 && call >= fail_from) {
      status = kIoError;
    } else {
      for (const auto step : steps) adapter->bus->step(step);
      // Every finished transaction reaches the file at once: a run that waits for a key, or
      // dies, still leaves a trace up to its last stop condition.
      if (adapter->trace) adapter->trace->flush_after_stop();
      if (written != nullptr) *written = count;
    }
  }
  if (g_log.enabled()) g_log.line(kWrite, hex_bytes(steps), status);
  return status;
}

SIM_EXPORT FT_STATUS FT_API FT_GetBitMode(FT_HANDLE handle, std::uint8_t* pins) {
  const std::uint64_t call = g_log.count(kGetBitMode);
  Adapter* adapter = adapter_for(handle);
  FT_STATUS status = FT_OK;
  if (adapter == nullptr) {
    status = kInvalidHandle;
  } else if (pins == nullptr) {
    status = kInvalidParameter;
  } else {
    const auto fail_from = adapter->config.faults.read_fail_from;
    if (fail_from != 0 && call >= fail_from) {
      status = kIoError;
    } else {
      *pins = adapter->bus->read_pins();
    }
  }
  if (g_log.enabled()) {
    const std::string out = status == FT_OK ? hex_bytes(std::span(pins, 1)) : std::string();
    g_log.line(kGetBitMode, "", status, out.c_str());
  }
  return status;
}

}  // extern "C"

// The entry points have exactly the types the bus binds them to.
static_assert(std::is_same_v<decltype(&FT_Open), FT_OpenFn>);
static_assert(std::is_same_v<decltype(&FT_SetBaudRate), FT_SetBaudRateFn>);
static_assert(std::is_same_v<decltype(&FT_SetBitMode), FT_SetBitModeFn>);
static_assert(std::is_same_v<decltype(&FT_Write), FT_WriteFn>);
static_assert(std::is_same_v<decltype(&FT_GetBitMode), FT_GetBitModeFn>);
