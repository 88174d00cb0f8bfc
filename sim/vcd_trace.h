// A Value Change Dump of the simulated bus for waveform viewers (GTKWave, PulseView): SCL, the
// SDA line, the master's SDA drive and each device's SDA drive, one value change per line.
// It leaves out the pins that are not wired to the bus and the time before bit-bang mode.
//
// Time counts adapter steps: the levels at time n are the bus after the adapter has taken n
// pin-state bytes, so time 0 shows the idle bus before the first one. The count comes from the
// bus, not from its clock divided by the step period, so it stays whole even if the baud rate
// changed during a run. VCD knows only powers of ten of a second as time units; the dump declares
// 1 us, the nearest to one step at the tester's 57,600 baud (1.085 us), and its header comment
// states the exact step period at the start of the trace. A drive signal is 1 while its owner
// leaves SDA released and 0 while it pulls SDA low.
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
  // devices share gets a number: "sda_thermo0", "sda_thermo0_2"). The header waits for the first
  // step, when the adapter's step period is set. nullptr and `error` when the file cannot be made.
  static std::unique_ptr<VcdTrace> create(const std::string& path, const PinBus& bus,
                                          std::string& error);
  // Completes the file (header, buffered changes) and closes it.
  ~VcdTrace() override;
  VcdTrace(const VcdTrace&) = delete;
  VcdTrace& operator=(const VcdTrace&) = delete;

  void on_levels(std::uint64_t steps, bool scl, bool sda_line, bool master_sda_released,
                 std::span<const std::uint8_t> device_sda_released) override;

  // Hands what is written so far to the file when a stop condition has gone by since the last
  // time: once per transaction, not once per step.
  void flush_after_stop();

  // The signal names in the order the dump declares them: scl, sda, sda_master, then devices.
  const std::vector<std::string>& signal_names() const { return names_; }

 private:
  VcdTrace(std::FILE* file, std::string path, const PinBus& bus);
  void write_header();
  void write_initial_values();
  void write_value(std::size_t signal, bool level);

  std::FILE* file_;
  std::string path_;
  const PinBus& bus_;
  std::vector<std::string> names_;
  std::vector<std::string> codes_;  // the dump's short identifier of each signal
  std::vector<std::uint8_t> last_;  // the values written last, or waiting to be the initial ones
  std::vector<std::uint8_t> now_;   // the values just reported
  bool have_initial_ = false;       // last_ holds the levels before the first step
  std::uint64_t initial_time_ = 0;
  std::uint64_t last_time_ = 0;  // the latest time written
  bool header_written_ = false;
  bool stop_seen_ = false;  // a stop condition not yet flushed
  std::vector<char> buffer_;
};

// The signal name of a device: "sda_" and the device's name, with anything that is not a letter,
// digit or underscore turned into an underscore.
std::string device_signal_name(std::string_view device_name);

}  // namespace sim
