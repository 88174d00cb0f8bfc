// How fast the simulated bus runs the tester's traffic, with and without a waveform trace: an
// untraced bench must pay nothing for the tracing it does not do.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "eeprom_model.h"
#include "pin_bus.h"
#include "vcd_trace.h"

namespace {

// The pin-state bytes of one random read of address 5, as the bus master sends them; the bit
// inputs are sent without looking at the samples, which does not change the device's work.
std::vector<std::uint8_t> random_read_steps() {
  std::vector<std::uint8_t> steps;
  auto add = [&](std::initializer_list<std::uint8_t> bytes) {
    steps.insert(steps.end(), bytes.begin(), bytes.end());
  };
  auto byte = [&](int value) {
    for (int bit = 7; bit >= 0; --bit) {
      if (((value >> bit) & 1) != 0) {
        add({0x02, 0x03, 0x02});
      } else {
        add({0x00, 0x01, 0x00});
      }
    }
  };
  auto bit_input = [&] { add({0x02, 0x03, 0x02}); };
  add({0x02, 0x03, 0x01, 0x00});
  byte(0xA0);
  bit_input();
  byte(0x05);
  bit_input();
  add({0x02, 0x03, 0x01, 0x00});
  byte(0xA1);
  bit_input();
  for (int i = 0; i < 9; ++i) bit_input();
  add({0x00, 0x01, 0x03, 0x02});
  return steps;
}

std::unique_ptr<sim::PinBus> eeprom_bus() {
  auto bus = std::make_unique<sim::PinBus>();
  sim::EepromModel::Memory blank;
  blank.fill(0xFF);
  bus->add_device(std::make_unique<sim::EepromModel>(sim::EepromModel::Options{}, blank));
  bus->set_baud_rate(57600);
  bus->set_bit_mode(0x03, 0x01);
  return bus;
}

void run_reads(benchmark::State& state, sim::PinBus& bus) {
  const auto steps = random_read_steps();
  for (auto _ : state) {
    for (const auto step : steps) bus.step(step);
    benchmark::DoNotOptimize(bus.read_pins());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(steps.size()));
  state.SetLabel("items = pin-state bytes");
}

void BM_RandomReadUntraced(benchmark::State& state) {
  auto bus = eeprom_bus();
  run_reads(state, *bus);
}
BENCHMARK(BM_RandomReadUntraced);

void BM_RandomReadTraced(benchmark::State& state) {
  auto bus = eeprom_bus();
  const auto path = std::filesystem::temp_directory_path() / "bus-benchmark.vcd";
  std::string error;
  auto trace = sim::VcdTrace::create(path.string(), *bus, error);
  if (!trace) {
    state.SkipWithError(error.c_str());
    return;
  }
  bus->set_observer(trace.get());
  run_reads(state, *bus);
  bus->set_observer(nullptr);
  trace.reset();
  std::filesystem::remove(path);
}
BENCHMARK(BM_RandomReadTraced);

}  // namespace

BENCHMARK_MAIN();
