// What the simulated adapter needs from the host system. One source file per platform.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sim::host {

// Real time, for a bench that imitates a slow adapter.
void sleep_microseconds(std::uint32_t microseconds);

// Replaces the file at `path` with `bytes` so that after a crash, of the process or of the
// machine, the file holds either its old content or the new one, never a mix.
bool replace_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace sim::host
