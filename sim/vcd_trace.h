// A Value Change Dump of the simulated bus for waveform viewers (GTKWave, PulseView): SCL, the
// SDA line, the master's SDA drive and each device's SDA drive, one value change per line.
// It leaves out the pins that are not wired to the bus and the time before bit-bang mode.
//
// Time is the simulator's own clock, which counts whole picoseconds; the dump's time unit is
// 1 ps, so every step lands on its exact time (a multiple of the step period, which the header
// states). A drive signal is 1 while its owner leaves SDA released and 0 while it pulls SDA low.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pin_bus.h"

namespace sim {

class VcdTrace : public StepObserver {
 public:
  // Creates `path` and names one drive signal per device on `bus` ("sda_eeprom"; a name that two
  // devices share gets a number: "sda_thermo", "sda_thermo_2"). The header waits for the first
  // step, when the adapter's step period is set. nullptr and `error` when the file cannot be made.
  static std::unique_ptr<VcdTrace> create(const std::string& path, const PinBus& bus,
                                          std::string& error);
  // Completes the file (header, buffered changes) and closes it.
  ~VcdTrace() override;
  VcdTrace(const VcdTrace&) = delete;
  VcdTrace& operator=(const VcdTrace&) = delete;

  void on_step(SimTime now, bool scl, bool sda_line, bool master_sda_released,
               std::span<const std::uint8_t> device_sda_released) override;

  // Hands what is written so far to the file when a stop condition has gone by since the last
  // time: once per transaction, not once per step.
  void flush_after_stop();

  // The signal names in the order the dump declares them: scl, sda, sda_master, then devices.
  const std::vector<std::string>& signal_names() const { return names_; }

 private:
  VcdTrace(std::FILE* file, std::string path, const PinBus& bus);
  void write_header();
  void write_value(std::size_t signal, bool level);

  std::FILE* file_;
  std::string path_;
  const PinBus& bus_;
  std::vector<std::string> names_;
  std::vector<std::string> codes_;  // the dump's short identifier of each signal
  std::vector<std::uint8_t> last_;  // the value written last; 0xFF before the first step
  std::vector<std::uint8_t> now_;   // this step's values
  bool header_written_ = false;
  bool stop_seen_ = false;  // a stop condition not yet flushed
  std::vector<char> buffer_;
};

// The signal name of a device: "sda_" and the device's name, with anything that is not a letter,
// digit or underscore turned into an underscore.
std::string device_signal_name(std::string_view device_name);

}  // namespace sim
