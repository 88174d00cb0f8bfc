// The 24C16 model: address counter, page latch, write cycle and image file, and the "eeprom" entry
// of the bench with its options.
#include "eeprom_model.h"

#include <cstdio>
#include <filesystem>

#include "bench.h"
#include "host.h"

namespace sim {

namespace {
constexpr std::uint8_t kDeviceTypeMask = 0xF0;
constexpr std::uint8_t kDeviceType = 0xA0;  // 1010 xxx x
constexpr std::uint16_t kAddressMask = 0x7FF;
constexpr std::uint16_t kPageMask = 0x0F;
}  // namespace

EepromModel::EepromModel(const Options& options, const Memory& content)
    : options_(options), memory_(content) {}

void EepromModel::on_start(SimTime) {
  // A new start before the stop abandons a write in progress.
  page_latch_ = {};
  latched_ = false;
  word_address_next_ = false;
}

bool EepromModel::on_address(std::uint8_t address_byte, SimTime now) {
  if ((address_byte & kDeviceTypeMask) != kDeviceType || dead_ || busy(now)) return false;
  const auto block = static_cast<std::uint16_t>((address_byte >> 1) & 0x07);
  if ((address_byte & 0x01) != 0) {
    pointer_ = static_cast<std::uint16_t>((block << 8) | (pointer_ & 0xFF));
  } else {
    pointer_ = static_cast<std::uint16_t>(block << 8);
    word_address_next_ = true;
  }
  return true;
}

bool EepromModel::on_byte_written(std::uint8_t byte, SimTime) {
  if (dead_) return false;
  if (word_address_next_) {
    pointer_ = static_cast<std::uint16_t>((pointer_ & 0x700) | byte);
    word_address_next_ = false;
    return true;
  }
  page_latch_[pointer_ & kPageMask] = byte;
  latched_ = true;
  pointer_ = static_cast<std::uint16_t>((pointer_ & ~kPageMask) | ((pointer_ + 1) & kPageMask));
  if (options_.stops_acknowledging) dead_ = true;
  return true;
}

std::uint8_t EepromModel::on_byte_wanted(SimTime) {
  const std::uint8_t value = memory_[pointer_];
  pointer_ = static_cast<std::uint16_t>((pointer_ + 1) & kAddressMask);
  return value;
}

void EepromModel::on_stop(SimTime now) {
  word_address_next_ = false;
  if (!latched_) return;
  // The latched bytes belong to the page the counter points into.
  const std::size_t page = pointer_ & ~kPageMask & kAddressMask;
  for (std::size_t i = 0; i < kPageSize; ++i) {
    if (page_latch_[i]) memory_[page + i] = *page_latch_[i];
  }
  page_latch_ = {};
  latched_ = false;
  busy_until_ = now + options_.write_cycle;
  if (!options_.image_path.empty() &&
      !host::replace_file_atomically(options_.image_path, memory_)) {
    std::fprintf(stderr, "ftd2xx simulator: cannot save the EEPROM image to %s\n",
                 options_.image_path.c_str());
  }
}

std::optional<EepromModel::Memory> load_eeprom_image(const std::string& path, std::string& error) {
  EepromModel::Memory memory;
  memory.fill(0xFF);
  std::error_code status_error;
  const auto status = std::filesystem::status(path, status_error);
  if (status.type() == std::filesystem::file_type::not_found) return memory;  // blank part
  if (status.type() != std::filesystem::file_type::regular) {
    error = "the EEPROM image " + path + " is not a file";
    return std::nullopt;
  }
  const auto size = std::filesystem::file_size(path, status_error);
  if (!status_error && size != memory.size()) {
    error = "EEPROM image " + path + " holds " + std::to_string(size) + " bytes, not " +
            std::to_string(memory.size());
    return std::nullopt;
  }
  std::FILE* file = status_error ? nullptr : std::fopen(path.c_str(), "rb");
  const bool read =
      file != nullptr && std::fread(memory.data(), 1, memory.size(), file) == memory.size();
  if (file != nullptr) std::fclose(file);
  if (!read) {
    error = "cannot read the EEPROM image " + path;
    return std::nullopt;
  }
  return memory;
}

}  // namespace sim

namespace sim {

std::unique_ptr<I2cDevice> make_eeprom(const DeviceEntry& entry, const BenchConfig& config,
                                       std::string& error) {
  if (entry.number) {
    error = "eeprom takes no @number: a 24C16 answers at all eight block addresses";
    return nullptr;
  }
  EepromModel::Options options;
  options.image_path = config.eeprom_image;
  options.stops_acknowledging = config.faults.eeprom_stops_ack;
  for (const auto& [key, value] : entry.options) {
    if (key == "write-us") {
      const auto microseconds = parse_unsigned(value);
      if (!microseconds || *microseconds > 10'000'000) {
        error = "eeprom write-us wants a whole number of microseconds up to 10000000, not '" +
                value + "'";
        return nullptr;
      }
      options.write_cycle = *microseconds * 1'000'000;
    } else {
      error = "eeprom has no option '" + key + "'";
      return nullptr;
    }
  }
  const auto content = load_eeprom_image(config.eeprom_image, error);
  if (!content) return nullptr;
  // Saved once now, so that an image that could not be kept is refused before the run rather
  // than lost after it.
  if (!config.eeprom_image.empty() &&
      !host::replace_file_atomically(config.eeprom_image, *content)) {
    error = "cannot write the EEPROM image " + config.eeprom_image;
    return nullptr;
  }
  return std::make_unique<EepromModel>(options, *content);
}

}  // namespace sim
