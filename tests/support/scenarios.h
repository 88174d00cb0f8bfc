// The benches the tester is run on end to end, as a table shared by every build that runs the
// tester as a process (the native build, and the Windows build under an emulator). Each names
// the simulator settings, which adapter library the tester finds, and whether the EEPROM starts
// from an image with content.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

enum class AdapterLibrary {
  kSimulated,  // the simulated adapter library
  kNone,       // no adapter library at all
  kPartial,    // a library that lacks FT_SetBaudRate (and FT_GetBitMode)
};

struct Scenario {
  std::string name;
  std::vector<std::pair<std::string, std::string>> settings;  // FTSIM_* variables
  AdapterLibrary library = AdapterLibrary::kSimulated;
  bool preloaded_image = false;  // FTSIM_EEPROM_IMAGE names a file holding preloaded_content()
};

std::vector<Scenario> end_to_end_scenarios();

// Test output names a scenario by its name.
inline void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

// EEPROM content of the scenarios with a preloaded image: no two neighbours alike, and unlike
// both patterns the tester writes.
std::array<std::uint8_t, 2048> preloaded_content();

// Adapter calls before the first EEPROM transaction, and per random read (pin reads and writes).
inline constexpr int kBringUpWrites = 3;
inline constexpr int kBringUpReads = 2;
inline constexpr int kReadWrites = 30;  // writes of one random read
inline constexpr int kReadReads = 12;   // pin reads of one random read
