#include "scenarios.h"

std::vector<Scenario> end_to_end_scenarios() {
  // The first failing call of the two call-number faults falls on the first adapter call of the
  // random read of address 5 in the first pass.
  const std::string fifth_read_first_pin_read = std::to_string(kBringUpReads + 5 * kReadReads + 1);
  const std::string fifth_read_first_write = std::to_string(kBringUpWrites + 5 * kReadWrites + 1);
  return {
      {"blank_eeprom", {}},
      {"eeprom_with_content", {}, AdapterLibrary::kSimulated, true},
      {"no_eeprom", {{"FTSIM_DEVICES", "none"}}},
      {"no_library", {}, AdapterLibrary::kNone},
      {"missing_entry_point", {}, AdapterLibrary::kPartial},
      {"no_adapter", {{"FTSIM_FAULTS", "no-adapter"}}},
      {"baud_rate_refused", {{"FTSIM_FAULTS", "baud-refused"}}},
      {"bit_mode_refused", {{"FTSIM_FAULTS", "bitmode-refused"}}},
      {"sda_stuck_high", {{"FTSIM_FAULTS", "sda-stuck-high"}}},
      {"sda_stuck_low", {{"FTSIM_FAULTS", "sda-stuck-low"}}},
      {"unparsable_setting", {{"FTSIM_FAULTS", "sda-stuck-sideways"}}},
      {"pin_reads_fail", {{"FTSIM_FAULTS", "read-fail-from=" + fifth_read_first_pin_read}}},
      {"writes_fail", {{"FTSIM_FAULTS", "write-fail-from=" + fifth_read_first_write}}},
      {"eeprom_stops_acknowledging", {{"FTSIM_FAULTS", "eeprom-stops-ack"}}},
      {"slow_write_cycle", {{"FTSIM_DEVICES", "eeprom:write-us=10000"}}},
  };
}

std::array<std::uint8_t, 2048> preloaded_content() {
  std::array<std::uint8_t, 2048> content{};
  for (std::size_t i = 0; i < content.size(); ++i) {
    content[i] = static_cast<std::uint8_t>((i * 37 + 11) & 0xFF);
  }
  return content;
}
