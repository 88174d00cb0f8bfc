// Every environment variable the simulated adapter reads. A test starts its bench from none of
// them, so that nothing set outside the test changes what it sees.
#pragma once

#include <string>
#include <vector>

inline const std::vector<std::string> kSimulatorVariables{
    "FTSIM_DEVICES",      "FTSIM_FAULTS",        "FTSIM_LOG",
    "FTSIM_EEPROM_IMAGE", "FTSIM_CALL_DELAY_US", "FTSIM_TRACE"};

// The simulator's variables and the loader's search path: a child process then finds the adapter
// library only where the test puts it.
inline std::vector<std::string> simulator_and_loader_variables() {
  auto names = kSimulatorVariables;
  names.emplace_back("LD_LIBRARY_PATH");
  return names;
}
