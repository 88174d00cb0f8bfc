// POSIX host services of the simulated adapter: real-time sleeps, and file replacement through a
// synced temporary file and one rename.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "host.h"

namespace sim::host {

void sleep_microseconds(std::uint32_t microseconds) {
  timespec rest{static_cast<time_t>(microseconds / 1'000'000),
                static_cast<long>(microseconds % 1'000'000) * 1000};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

namespace {

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

std::string directory_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool replace_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  // The new content goes to a file beside the old one, reaches the disk, and then takes the old
  // one's name in a single rename.
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = write_all(fd, bytes) && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk with the directory.
  const int directory = open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    fsync(directory);
    close(directory);
  }
  return true;
}

}  // namespace sim::host
