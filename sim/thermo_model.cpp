// The DS1621-style thermometer model: commands, conversions timed in simulated time, the count
// registers of the high-resolution reading, and the "thermo" entry of the bench.
#include "thermo_model.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "bench.h"

namespace sim {

namespace {

constexpr std::uint8_t kDeviceType = 0x90;  // 1001 xxx x
constexpr std::uint8_t kReadBit = 0x01;

constexpr std::uint8_t kCmdAccessConfig = 0xAC;
constexpr std::uint8_t kCmdStartConvert = 0xEE;
constexpr std::uint8_t kCmdStopConvert = 0x22;
constexpr std::uint8_t kCmdReadTemperature = 0xAA;
constexpr std::uint8_t kCmdReadSlope = 0xA9;
constexpr std::uint8_t kCmdReadCounter = 0xA8;

constexpr std::uint8_t kConfigDone = 0x80;
constexpr std::uint8_t kConfigPolarity = 0x02;
constexpr std::uint8_t kConfigOneShot = 0x01;
constexpr std::uint8_t kConfigWritable = kConfigPolarity | kConfigOneShot;

constexpr int kStepsPerDegree = 256;  // temperatures here are in 1/256 degree
constexpr int kStepsPerHalfDegree = 128;
constexpr int kQuarterDegree = 64;

constexpr int floor_divide(int value, int divisor) {
  const int quotient = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

bool known_command(std::uint8_t command) {
  switch (command) {
    case kCmdAccessConfig:
    case kCmdStartConvert:
    case kCmdStopConvert:
    case kCmdReadTemperature:
    case kCmdReadSlope:
    case kCmdReadCounter:
      return true;
    default:
      return false;
  }
}

// The temperature register holds the temperature rounded to the nearest half degree, so its
// whole degrees are floor(T + 1/4); the high-resolution rule then needs
// (slope - counter) / slope = T - whole degrees + 1/4, a value in [0, 1). The counter is chosen
// so that the rule's truncated result in 1/256 degree comes closest to T.
ThermoModel::Registers convert(int temperature, int slope, std::optional<int> fixed_counter) {
  const int half_degrees = floor_divide(temperature + kQuarterDegree, kStepsPerHalfDegree);
  const int whole_degrees = floor_divide(half_degrees, 2);
  ThermoModel::Registers registers;
  registers.msb = static_cast<std::uint8_t>(whole_degrees & 0xFF);
  registers.lsb = static_cast<std::uint8_t>((half_degrees & 1) != 0 ? 0x80 : 0x00);
  registers.slope = static_cast<std::uint8_t>(slope);
  int best_counter = 0;
  if (slope != 0) {
    const int wanted = temperature - whole_degrees * kStepsPerDegree + kQuarterDegree;
    int best_error = kStepsPerDegree;
    for (int counts = 0; counts <= slope; ++counts) {
      const int error = std::abs(counts * kStepsPerDegree / slope - wanted);
      if (error < best_error) {
        best_error = error;
        best_counter = slope - counts;
      }
    }
  }
  registers.counter = static_cast<std::uint8_t>(fixed_counter.value_or(best_counter));
  return registers;
}

}  // namespace

ThermoModel::ThermoModel(const Options& options)
    : options_(options), name_("thermo" + std::to_string(options.number)) {
  mode_bits_ = static_cast<std::uint8_t>((options.polarity ? kConfigPolarity : 0) |
                                         (options.one_shot ? kConfigOneShot : 0));
}

// Conversions are settled lazily: whenever the master looks, the conversions that have ended by
// then have loaded the registers.
void ThermoModel::catch_up(SimTime now) {
  if (!converting_ || now < conversion_end_) return;
  registers_ = convert(options_.temperature, options_.slope, options_.counter);
  if (continuous_) {
    const SimTime periods = (now - conversion_end_) / options_.conversion + 1;
    conversion_end_ += periods * options_.conversion;
    return;
  }
  converting_ = false;
  done_ = true;
}

std::uint8_t ThermoModel::config() const {
  return static_cast<std::uint8_t>((done_ ? kConfigDone : 0) | mode_bits_);
}

void ThermoModel::on_start(SimTime) {
  command_next_ = false;
  config_next_ = false;
}

bool ThermoModel::on_address(std::uint8_t address_byte, SimTime now) {
  const auto own = static_cast<std::uint8_t>(kDeviceType | (options_.number << 1));
  if ((address_byte & ~kReadBit) != own) return false;
  if ((address_byte & kReadBit) == 0) {
    command_next_ = true;
    return true;
  }
  catch_up(now);
  out_index_ = 0;
  switch (command_) {
    case kCmdAccessConfig:
      out_ = {config()};
      break;
    case kCmdReadTemperature:
      out_ = {registers_.msb, registers_.lsb};
      break;
    case kCmdReadSlope:
      out_ = {registers_.slope};
      break;
    case kCmdReadCounter:
      out_ = {registers_.counter};
      break;
    default:
      out_.clear();
      break;
  }
  return true;
}

bool ThermoModel::on_byte_written(std::uint8_t byte, SimTime now) {
  if (config_next_) {
    config_next_ = false;
    mode_bits_ = byte & kConfigWritable;
    return true;
  }
  if (!command_next_ || !known_command(byte)) return false;
  command_next_ = false;
  command_ = byte;
  catch_up(now);
  if (byte == kCmdAccessConfig) {
    config_next_ = true;  // a configuration byte may follow, or a repeated start to read it
  } else if (byte == kCmdStartConvert) {
    converting_ = true;
    continuous_ = (mode_bits_ & kConfigOneShot) == 0;
    done_ = false;
    conversion_end_ = now + options_.conversion;
  } else if (byte == kCmdStopConvert) {
    continuous_ = false;  // the conversion running now is the last
  }
  return true;
}

std::uint8_t ThermoModel::on_byte_wanted(SimTime) {
  if (out_index_ >= out_.size()) return 0xFF;
  return out_[out_index_++];
}

namespace {

bool parse_number_option(const std::string& value, std::uint64_t limit, std::uint64_t& number) {
  const auto parsed = parse_unsigned(value);
  if (!parsed || *parsed > limit) return false;
  number = *parsed;
  return true;
}

}  // namespace

std::unique_ptr<I2cDevice> make_thermo(const DeviceEntry& entry, const BenchConfig&,
                                       std::string& error) {
  ThermoModel::Options options;
  options.number = entry.number.value_or(0);
  if (options.number > 7) {
    error = "thermo@" + std::to_string(options.number) + ": the device number is 0 to 7";
    return nullptr;
  }
  for (const auto& [key, value] : entry.options) {
    std::uint64_t number = 0;
    if (key == "temp") {
      double degrees = 0;
      const auto* end = value.data() + value.size();
      const auto [stop, failure] = std::from_chars(value.data(), end, degrees);
      if (value.empty() || failure != std::errc() || stop != end || degrees < -55.0 ||
          degrees > 125.0) {
        error = "thermo temp wants degrees Celsius from -55 to 125, not '" + value + "'";
        return nullptr;
      }
      options.temperature = static_cast<int>(std::lround(degrees * 256.0));
    } else if (key == "conv-us") {
      if (!parse_number_option(value, 100'000'000, number) || number == 0) {
        error = "thermo conv-us wants microseconds from 1 to 100000000, not '" + value + "'";
        return nullptr;
      }
      options.conversion = number * 1'000'000;
    } else if (key == "slope") {
      if (!parse_number_option(value, 255, number)) {
        error = "thermo slope wants counts per degree from 0 to 255, not '" + value + "'";
        return nullptr;
      }
      options.slope = static_cast<int>(number);
    } else if (key == "counter") {
      if (!parse_number_option(value, 255, number)) {
        error = "thermo counter wants a byte value from 0 to 255, not '" + value + "'";
        return nullptr;
      }
      options.counter = static_cast<int>(number);

    } else if (key == "pol" && value.empty()) {
      options.polarity = true;
    } else if (key == "one-shot" && value.empty()) {
      options.one_shot = true;
    } else {
      error = "thermo has no option '" + key + (value.empty() ? "" : "=" + value) + "'";
      return nullptr;
    }
  }
  return std::make_unique<ThermoModel>(options);
}

}  // namespace sim
