// The clock/calendar model: register file, pointer, the count that follows the simulated time,
// and the "clock" entry of the bench with its options.
#include "clock_model.h"

#include "bench.h"

namespace sim {

namespace {
constexpr std::uint8_t kDeviceType = 0xA0;   // 1010 00 A0 R/W
constexpr std::uint8_t kAddressMask = 0xFE;  // all but the R/W bit
constexpr std::uint8_t kReadBit = 0x01;

constexpr std::uint8_t kRegControl = 0x00;
constexpr std::uint8_t kRegHundredths = 0x01;
constexpr std::uint8_t kRegSeconds = 0x02;
constexpr std::uint8_t kRegMinutes = 0x03;
constexpr std::uint8_t kRegHours = 0x04;
constexpr std::uint8_t kRegYearDate = 0x05;
constexpr std::uint8_t kRegWeekdayMonth = 0x06;

constexpr std::uint8_t kControlStop = 0x80;
constexpr std::uint8_t kHoursFormatBits = 0xC0;  // 12-hour flag and AM/PM flag, kept as written
constexpr std::uint8_t kHoursValueBits = 0x3F;
constexpr std::uint8_t kMonthBits = 0x1F;
constexpr int kWeekdayShift = 5;
constexpr std::uint64_t kDaysPerWeek = 7;

constexpr SimTime kHundredth = 10'000'000'000;  // 10 ms in picoseconds
constexpr std::uint64_t kHundredthsPerDay = 24ull * 60 * 60 * 100;

std::uint64_t from_bcd(std::uint8_t byte) {
  return static_cast<std::uint64_t>((byte >> 4) * 10 + (byte & 0x0F));
}

std::uint8_t to_bcd(std::uint64_t value) {
  return static_cast<std::uint8_t>((value / 10) * 16 + value % 10);
}
}  // namespace

ClockModel::ClockModel(const Options& options)
    : options_(options), name_("clock" + std::to_string(options.device_select)) {
  // Power-on state of the model: counting from 00:00:00.00, weekday 0, day 1, month 1.
  registers_[kRegYearDate] = 0x01;
  registers_[kRegWeekdayMonth] = 0x01;
}

bool ClockModel::counting() const {
  return (registers_[kRegControl] & kControlStop) == 0;
}

void ClockModel::catch_up(SimTime now) {
  if (in_transaction_) return;
  if (!counting() || now <= anchor_) {
    if (!counting()) anchor_ = now;  // stopped time is never counted
    return;
  }
  const std::uint64_t hundredths = (now - anchor_) / kHundredth;
  if (hundredths == 0) return;
  advance(hundredths);
  anchor_ += hundredths * kHundredth;  // the part of a hundredth left over counts next time
}

void ClockModel::advance(std::uint64_t hundredths) {
  const std::uint64_t hours = from_bcd(registers_[kRegHours] & kHoursValueBits);
  const std::uint64_t minutes = from_bcd(registers_[kRegMinutes]);
  const std::uint64_t seconds = from_bcd(registers_[kRegSeconds]);
  const std::uint64_t in_day = ((hours * 60 + minutes) * 60 + seconds) * 100 +
                               from_bcd(registers_[kRegHundredths]) + hundredths;
  const std::uint64_t weekday =
      (static_cast<std::uint64_t>(registers_[kRegWeekdayMonth] >> kWeekdayShift) +
       in_day / kHundredthsPerDay) %
      kDaysPerWeek;
  const std::uint64_t time = in_day % kHundredthsPerDay;
  registers_[kRegHundredths] = to_bcd(time % 100);
  registers_[kRegSeconds] = to_bcd(time / 100 % 60);
  registers_[kRegMinutes] = to_bcd(time / 6'000 % 60);
  registers_[kRegHours] = static_cast<std::uint8_t>((registers_[kRegHours] & kHoursFormatBits) |
                                                    to_bcd(time / 360'000));
  registers_[kRegWeekdayMonth] = static_cast<std::uint8_t>(
      (weekday << kWeekdayShift) | (registers_[kRegWeekdayMonth] & kMonthBits));
}

void ClockModel::on_start(SimTime now) {
  catch_up(now);
  if (!in_transaction_) count_written_ = false;
  in_transaction_ = true;
  pointer_next_ = false;
}

bool ClockModel::on_address(std::uint8_t address_byte, SimTime) {
  const auto own = static_cast<std::uint8_t>(kDeviceType | (options_.device_select << 1));
  if ((address_byte & kAddressMask) != own) return false;
  pointer_next_ = (address_byte & kReadBit) == 0;
  return true;
}

bool ClockModel::on_byte_written(std::uint8_t byte, SimTime) {
  if (pointer_next_) {
    pointer_ = byte;
    pointer_next_ = false;
    return true;
  }
  registers_[pointer_] = byte;
  if (pointer_ <= kRegWeekdayMonth) count_written_ = true;
  ++pointer_;  // wraps from 0xFF to 0x00
  return true;
}

std::uint8_t ClockModel::on_byte_wanted(SimTime) {
  return registers_[pointer_++];
}

void ClockModel::on_stop(SimTime now) {
  in_transaction_ = false;
  pointer_next_ = false;
  // New control or counter values start a fresh hundredth at the stop; otherwise the time that
  // passed during the transaction is counted now.
  if (count_written_) anchor_ = now;
  count_written_ = false;
  catch_up(now);
}

const ClockModel::Registers& ClockModel::registers(SimTime now) {
  catch_up(now);
  return registers_;
}

std::unique_ptr<I2cDevice> make_clock(const DeviceEntry& entry, const BenchConfig&,
                                      std::string& error) {
  ClockModel::Options options;
  if (entry.number) {
    if (*entry.number > 1) {
      error = "clock@" + std::to_string(*entry.number) + ": the clock's A0 pin makes it 0 or 1";
      return nullptr;
    }
    options.device_select = *entry.number;
  }
  for (const auto& [key, value] : entry.options) {
    error = "clock has no option '" + key + "'";
    return nullptr;
  }
  return std::make_unique<ClockModel>(options);
}

}  // namespace sim
