#include "vcd_trace.h"

#include <algorithm>
#include <cinttypes>

namespace sim {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;
// The dump's identifier codes are strings of the printable characters '!' to '~'.
constexpr char kFirstCodeChar = '!';
constexpr int kCodeChars = '~' - '!' + 1;

std::string identifier_code(std::size_t index) {
  std::string code;
  do {
    code += static_cast<char>(kFirstCodeChar + static_cast<int>(index % kCodeChars));
    index /= kCodeChars;
  } while (index != 0);
  return code;
}

}  // namespace

std::string device_signal_name(std::string_view device_name) {
  std::string name = "sda_";
  for (const char c : device_name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    name += plain ? c : '_';
  }
  return name;
}

std::unique_ptr<VcdTrace> VcdTrace::create(const std::string& path, const PinBus& bus,
                                           std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    error = "cannot write the trace " + path;
    return nullptr;
  }
  return std::unique_ptr<VcdTrace>(new VcdTrace(file, path, bus));
}

VcdTrace::VcdTrace(std::FILE* file, std::string path, const PinBus& bus)
    : file_(file), path_(std::move(path)), bus_(bus), buffer_(kBufferSize) {
  std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  names_ = {"scl", "sda", "sda_master"};
  for (const auto& port : bus.ports()) {
    const std::string base = device_signal_name(port->device().name());
    std::string name = base;
    for (int n = 2; std::find(names_.begin(), names_.end(), name) != names_.end(); ++n) {
      name = base + "_" + std::to_string(n);
    }
    names_.push_back(name);
  }
  for (std::size_t i = 0; i < names_.size(); ++i) codes_.push_back(identifier_code(i));
  last_.assign(names_.size(), 0xFF);
  now_.assign(names_.size(), 0);
}

VcdTrace::~VcdTrace() {
  if (!header_written_) {
    write_header();  // a valid dump without a single step
    if (have_initial_) write_initial_values();
  }
  const bool failed = std::ferror(file_) != 0;
  if (std::fclose(file_) != 0 || failed) {
    std::fprintf(stderr, "ftd2xx simulator: the trace %s is incomplete (write error)\n",
                 path_.c_str());
  }
}

void VcdTrace::flush_after_stop() {
  if (!stop_seen_) return;
  stop_seen_ = false;
  std::fflush(file_);
}

void VcdTrace::write_header() {
  header_written_ = true;
  std::fprintf(file_,
               "$version ftd2xx simulator $end\n"
               "$comment one time unit is one adapter step of %" PRIu64
               " ps (a pin-state byte); sda_* drives: 1 released, 0 pulling SDA low $end\n"
               "$timescale 1 us $end\n"
               "$scope module i2c $end\n",
               static_cast<std::uint64_t>(bus_.step_period()));
  for (std::size_t i = 0; i < names_.size(); ++i) {
    std::fprintf(file_, "$var wire 1 %s %s $end\n", codes_[i].c_str(), names_[i].c_str());
  }
  std::fputs("$upscope $end\n$enddefinitions $end\n", file_);
}

void VcdTrace::write_initial_values() {
  std::fprintf(file_, "#%" PRIu64 "\n$dumpvars\n", initial_time_);
  for (std::size_t i = 0; i < last_.size(); ++i) write_value(i, last_[i] != 0);
  std::fputs("$end\n", file_);
  last_time_ = initial_time_;
}

void VcdTrace::write_value(std::size_t signal, bool level) {
  std::fputc(level ? '1' : '0', file_);
  std::fputs(codes_[signal].c_str(), file_);
  std::fputc('\n', file_);
}

void VcdTrace::on_levels(std::uint64_t steps, bool scl, bool sda_line, bool master_sda_released,
                         std::span<const std::uint8_t> device_sda_released) {
  now_[0] = scl ? 1 : 0;
  now_[1] = sda_line ? 1 : 0;
  now_[2] = master_sda_released ? 1 : 0;
  const std::size_t devices = std::min(device_sda_released.size(), now_.size() - 3);
  for (std::size_t i = 0; i < devices; ++i) now_[3 + i] = device_sda_released[i] != 0 ? 1 : 0;

  if (!header_written_) {
    // The first levels reported (normally when bit-bang mode is set, before the first step) are
    // the dump's initial values; they and the header wait for a later time, when the adapter's
    // step period is set. Later levels at the same time replace them.
    if (!have_initial_ || steps == initial_time_) {
      last_ = now_;
      initial_time_ = steps;
      have_initial_ = true;
      return;
    }
    write_header();
    write_initial_values();
  }
  if (now_ == last_) return;
  if (now_[0] != 0 && last_[0] != 0 && now_[1] != 0 && last_[1] == 0) stop_seen_ = true;
  if (steps != last_time_) std::fprintf(file_, "#%" PRIu64 "\n", steps);
  last_time_ = steps;
  for (std::size_t i = 0; i < now_.size(); ++i) {
    if (now_[i] != last_[i]) write_value(i, now_[i] != 0);
  }
  last_ = now_;
}

}  // namespace sim
