// Reading a bench from the simulator's environment variables, and building the bus it describes
// from the table of device kinds.
#include "bench.h"

#include <array>
#include <charconv>
#include <string_view>

#include "clock_model.h"
#include "eeprom_model.h"
#include "thermo_model.h"

namespace sim {

namespace {

using DeviceFactory = std::unique_ptr<I2cDevice> (*)(const DeviceEntry&, const BenchConfig&,
                                                     std::string& error);
struct DeviceKind {
  std::string_view name;
  DeviceFactory make;
};

// Every device model the bench can place on the bus.
constexpr std::array kDeviceKinds{
    DeviceKind{"eeprom", make_eeprom},
    DeviceKind{"clock", make_clock},
    DeviceKind{"thermo", make_thermo},
};

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t begin = 0;
  while (true) {
    const auto end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) return parts;
    begin = end + 1;
  }
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::optional<DeviceEntry> parse_device(std::string_view item, std::string& error) {
  const auto fields = split(item, ':');
  DeviceEntry entry;
  const auto head = fields[0];
  const auto at = head.find('@');
  entry.kind = std::string(head.substr(0, at));
  if (at != std::string_view::npos) {
    const auto number = parse_unsigned(head.substr(at + 1));
    if (!number || *number > 255) {
      error = "bad device number in '" + std::string(item) + "'";
      return std::nullopt;
    }
    entry.number = static_cast<int>(*number);
  }
  for (std::size_t i = 1; i < fields.size(); ++i) {
    const auto equals = fields[i].find('=');
    if (fields[i].empty() || equals == 0) {
      error = "empty option in '" + std::string(item) + "'";
      return std::nullopt;
    }
    if (equals == std::string_view::npos) {
      entry.options.emplace_back(std::string(fields[i]), std::string());
    } else {
      entry.options.emplace_back(std::string(fields[i].substr(0, equals)),
                                 std::string(fields[i].substr(equals + 1)));
    }
  }
  return entry;
}

bool parse_devices(std::string_view text, BenchConfig& config, std::string& error) {
  text = trim(text);
  if (text == "none") return true;
  for (const auto raw : split(text, ',')) {
    const auto item = trim(raw);
    if (item.empty()) {
      error = "empty device in FTSIM_DEVICES";
      return false;
    }
    auto entry = parse_device(item, error);
    if (!entry) return false;
    config.devices.push_back(std::move(*entry));
  }
  return true;
}

bool parse_call_number(std::string_view value, std::uint64_t& number, std::string_view fault,
                       std::string& error) {
  const auto parsed = parse_unsigned(value);
  if (!parsed || *parsed == 0) {
    error = std::string(fault) + " wants a call number from 1 up, not '" + std::string(value) + "'";
    return false;
  }
  number = *parsed;
  return true;
}

bool parse_faults(std::string_view text, Faults& faults, std::string& error) {
  text = trim(text);
  if (text.empty()) return true;
  for (const auto raw : split(text, ',')) {
    const auto item = trim(raw);
    const auto equals = item.find('=');
    const auto name = item.substr(0, equals);
    const auto value =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    const bool flag = equals == std::string_view::npos;
    if (flag && name == "no-adapter") {
      faults.no_adapter = true;
    } else if (flag && name == "baud-refused") {
      faults.baud_refused = true;
    } else if (flag && name == "bitmode-refused") {
      faults.bit_mode_refused = true;
    } else if (flag && name == "sda-stuck-high") {
      faults.sda_drive = SdaDriveFault::kStuckHigh;
    } else if (flag && name == "sda-stuck-low") {
      faults.sda_drive = SdaDriveFault::kStuckLow;
    } else if (flag && name == "eeprom-stops-ack") {
      faults.eeprom_stops_ack = true;
    } else if (!flag && name == "read-fail-from") {
      if (!parse_call_number(value, faults.read_fail_from, name, error)) return false;
    } else if (!flag && name == "write-fail-from") {
      if (!parse_call_number(value, faults.write_fail_from, name, error)) return false;
    } else {
      error = "unknown fault '" + std::string(item) + "' in FTSIM_FAULTS";
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::uint64_t> parse_unsigned(std::string_view text) {
  std::uint64_t value = 0;
  const auto* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::optional<BenchConfig> parse_bench_config(const EnvLookup& env, std::string& error) {
  BenchConfig config;
  const auto devices = env("FTSIM_DEVICES");
  if (!parse_devices(devices ? *devices : "eeprom", config, error)) return std::nullopt;
  if (const auto faults = env("FTSIM_FAULTS");
      faults && !parse_faults(*faults, config.faults, error)) {
    return std::nullopt;
  }
  if (const auto image = env("FTSIM_EEPROM_IMAGE")) config.eeprom_image = *image;
  if (const auto log = env("FTSIM_LOG")) config.log_path = *log;
  if (const auto trace = env("FTSIM_TRACE")) config.trace_path = *trace;
  if (const auto delay = env("FTSIM_CALL_DELAY_US")) {
    const auto microseconds = parse_unsigned(*delay);
    if (!microseconds || *microseconds > 1'000'000) {
      error = "FTSIM_CALL_DELAY_US wants microseconds up to 1000000, not '" + *delay + "'";
      return std::nullopt;
    }
    config.call_delay_us = static_cast<std::uint32_t>(*microseconds);
  }
  return config;
}

std::unique_ptr<PinBus> build_bus(const BenchConfig& config, std::string& error) {
  auto bus = std::make_unique<PinBus>();
  bus->set_sda_drive_fault(config.faults.sda_drive);
  for (const auto& entry : config.devices) {
    const DeviceKind* kind = nullptr;
    for (const auto& candidate : kDeviceKinds) {
      if (candidate.name == entry.kind) kind = &candidate;
    }
    if (kind == nullptr) {
      error = "unknown device '" + entry.kind + "' in FTSIM_DEVICES";
      return nullptr;
    }
    // Every kind of device can be given the fault nack-from=N; the device model never sees it.
    DeviceEntry model_entry = entry;
    std::uint64_t nack_from = 0;
    std::erase_if(model_entry.options,
                  [&](const auto& option) { return option.first == "nack-from"; });
    for (const auto& [key, value] : entry.options) {
      if (key != "nack-from") continue;
      const auto number = parse_unsigned(value);
      if (!number || *number == 0) {
        error = entry.kind + " nack-from wants a byte number from 1 up, not '" + value + "'";
        return nullptr;
      }
      nack_from = *number;
    }
    auto device = kind->make(model_entry, config, error);
    if (!device) return nullptr;
    bus->add_device(std::move(device), nack_from);
  }
  return bus;
}

}  // namespace sim
