// A simulated bench: which devices sit on the bus and which faults the adapter shows. It is read
// from environment variables that only the simulator looks at:
//
//   FTSIM_DEVICES       comma-separated devices, each kind[@number][:option=value]...; "none" for
//                       an empty bus. Default: "eeprom".
//                         eeprom[:write-us=N]   24C16 at 1010xxx, write cycle N us (default 5000)
//                         clock[@A0]            PCF8583-style clock at 1010 00 A0 (A0 0 or 1,
//                                               default 0); it shares 0xA0/0xA2 with the 24C16,
//                                               so put one or the other there
//                         thermo[@N][:temp=DEG][:conv-us=N][:slope=N][:counter=N][:pol]
//                               [:one-shot]
//                               DS1621-style thermometer at 1001 A2A1A0 = N (0..7, default 0):
//                               temperature DEG degrees Celsius (-55..125, default 25),
//                               conversion N us (default 750000), slope counts per degree
//                               (0..255, default 80), counter register fixed at N instead of
//                               following the temperature, power-up configuration bits polarity
//                               and one-shot (default both 0)
//                       Every device also takes the fault option nack-from=N: the N-th byte it
//                       would acknowledge (its address byte is byte 1) and every later one are
//                       refused, and not taken.
//   FTSIM_EEPROM_IMAGE  2,048-byte image file of the EEPROM: loaded when it exists, saved after
//                       every write
//   FTSIM_FAULTS        comma-separated: no-adapter, baud-refused, bitmode-refused,
//                       sda-stuck-high, sda-stuck-low, read-fail-from=N, write-fail-from=N,
//                       eeprom-stops-ack (the EEPROM never acknowledges again once it has taken
//                       a data byte)
//   FTSIM_LOG           file that receives one line per adapter call ("-" for standard error)
//   FTSIM_CALL_DELAY_US real time each adapter call takes, to watch a run at a human pace
//   FTSIM_TRACE         Value Change Dump file (.vcd) that receives a waveform trace of the bus:
//                       scl, sda (the line), sda_master and sda_<device> (who pulls SDA low),
//                       time counted in adapter steps (pin-state bytes) with a declared unit of
//                       1 us, the exact step period in the header; each transaction is flushed at
//                       its stop condition and the file is complete when the process ends
//
// A setting that cannot be parsed, or a trace file that cannot be made, is an error: the adapter
// then refuses to open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "i2c_target.h"
#include "pin_bus.h"

namespace sim {

struct DeviceEntry {
  std::string kind;
  std::optional<int> number;                                 // the part after '@'
  std::vector<std::pair<std::string, std::string>> options;  // value empty for a bare flag
};

struct Faults {
  bool no_adapter = false;
  bool baud_refused = false;
  bool bit_mode_refused = false;
  SdaDriveFault sda_drive = SdaDriveFault::kNone;
  std::uint64_t read_fail_from = 0;   // 1-based pin-read call number; 0 = never
  std::uint64_t write_fail_from = 0;  // 1-based write call number; 0 = never
  bool eeprom_stops_ack = false;
};

struct BenchConfig {
  std::vector<DeviceEntry> devices;
  Faults faults;
  std::string eeprom_image;
  std::string log_path;
  std::string trace_path;
  std::uint32_t call_delay_us = 0;
};

// Looks up one environment variable; nullopt when it is not set.
using EnvLookup = std::function<std::optional<std::string>(const char* name)>;

std::optional<BenchConfig> parse_bench_config(const EnvLookup& env, std::string& error);

// Builds the bus a configuration describes, devices included.
std::unique_ptr<PinBus> build_bus(const BenchConfig& config, std::string& error);

// Parses a whole unsigned decimal number; nullopt on anything else.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

}  // namespace sim
