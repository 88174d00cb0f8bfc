// Bus layer: the adapter entry table, the device handle, and the waveform of every primitive.
// Between transactions the bus rests at SCL low, SDA released (0x02).
#include "i2c_bus.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "adapter_api.h"
#include "adapter_library.h"

namespace {

// Waveform steps, named for what they are on the wire.
constexpr std::uint8_t kRest = 0x02;  // SCL low, SDA released
constexpr std::array<std::uint8_t, 4> kStartCondition{0x02, 0x03, 0x01, 0x00};
constexpr std::array<std::uint8_t, 4> kStopCondition{0x00, 0x01, 0x03, 0x02};
constexpr std::array<std::uint8_t, 3> kBitZero{0x00, 0x01, 0x00};
constexpr std::array<std::uint8_t, 3> kBitOne{0x02, 0x03, 0x02};
constexpr std::array<std::uint8_t, 2> kBitInputBeforeSample{0x02, 0x03};
constexpr std::array<std::uint8_t, 1> kBitInputAfterSample{kRest};

// Line check at bring-up: SDA drive released, then pulled low.
constexpr std::array<std::uint8_t, 1> kLineCheckHigh{0x02};
constexpr std::array<std::uint8_t, 1> kLineCheckLow{0x00};

constexpr int kAdapterIndex = 0;
constexpr std::uint32_t kBaudRate = 57600;
constexpr std::uint8_t kOutputPins = kPinScl | kPinSdaDrive;
constexpr std::uint8_t kModeAsyncBitBang = 0x01;

// A write attempted before a successful bring-up; no adapter is touched.
constexpr int kNotReady = 1;

struct AdapterEntries {
  FT_OpenFn open = nullptr;
  FT_SetBitModeFn set_bit_mode = nullptr;
  FT_WriteFn write = nullptr;
  FT_SetBaudRateFn set_baud_rate = nullptr;
  FT_GetBitModeFn get_bit_mode = nullptr;
};

AdapterEntries g_adapter;
FT_HANDLE g_device = nullptr;
bool g_ready = false;

template <typename Fn>
bool resolve(void* library, const char* name, Fn& entry) {
  entry = reinterpret_cast<Fn>(ADAPTER_FindEntry(library, name));
  return entry != nullptr;
}

// Hands all steps to the adapter in one write. Taken by value: the driver's buffer parameter is
// not const, although it only reads it.
template <std::size_t N>
FT_STATUS write_steps(std::array<std::uint8_t, N> steps) {
  std::uint32_t written = 0;
  return g_adapter.write(g_device, steps.data(), static_cast<std::uint32_t>(N), &written);
}

template <std::size_t N>
int write_primitive(const std::array<std::uint8_t, N>& steps) {
  if (!g_ready) return kNotReady;
  return static_cast<int>(write_steps(steps));
}

// The level of the SDA line. A failed pin read counts as a released (high) line: an adapter that
// stops answering must not look like a slave acknowledging every byte and sending zeros.
int sample_sda() {
  if (!g_ready) return 1;
  std::uint8_t pins = 0;
  if (g_adapter.get_bit_mode(g_device, &pins) != FT_OK) return 1;
  return (pins & kPinSdaSense) != 0 ? 1 : 0;
}

// Writes one line-check byte and reports whether the SDA drive pin reads back the same level.
bool sda_drive_follows(const std::array<std::uint8_t, 1>& check) {
  if (write_steps(check) != FT_OK) return false;
  std::uint8_t pins = 0;
  if (g_adapter.get_bit_mode(g_device, &pins) != FT_OK) return false;
  return (pins & kPinSdaDrive) == (check[0] & kPinSdaDrive);
}

}  // namespace

int I2C_Init() {
  g_ready = false;
  void* library = ADAPTER_LoadLibrary();
  if (library == nullptr) return 1;
  // Resolved in this order; the first missing entry point ends the bring-up.
  if (!resolve(library, "FT_Open", g_adapter.open) ||
      !resolve(library, "FT_SetBitMode", g_adapter.set_bit_mode) ||
      !resolve(library, "FT_Write", g_adapter.write) ||
      !resolve(library, "FT_SetBaudRate", g_adapter.set_baud_rate) ||
      !resolve(library, "FT_GetBitMode", g_adapter.get_bit_mode)) {
    return 1;
  }
  if (g_adapter.open(kAdapterIndex, &g_device) != FT_OK) return 1;
  if (g_adapter.set_baud_rate(g_device, kBaudRate) != FT_OK) return 1;
  if (g_adapter.set_bit_mode(g_device, kOutputPins, kModeAsyncBitBang) != FT_OK) return 1;
  if (!sda_drive_follows(kLineCheckHigh)) return 1;
  if (!sda_drive_follows(kLineCheckLow)) return 1;
  g_ready = true;
  I2C_Stop();
  return 0;
}

// assert: SCL low. Leaves SCL low, SDA low.
int I2C_Start() {
  return write_primitive(kStartCondition);
}

// assert: SCL low. Leaves the bus at rest: SCL low, SDA released.
int I2C_Stop() {
  return write_primitive(kStopCondition);
}

// assert: SCL low. Leaves SCL low, SDA at the last bit sent.
int I2C_WriteByte(int value) {
  std::array<std::uint8_t, 24> steps{};
  auto next = steps.begin();
  for (int bit = 7; bit >= 0; --bit) {
    const auto& wave = ((value >> bit) & 1) != 0 ? kBitOne : kBitZero;
    next = std::copy(wave.begin(), wave.end(), next);
  }
  return write_primitive(steps);
}

// assert: SCL low. Leaves SCL low, SDA released. The write statuses are not examined, as for every
// primitive: a lost write leaves the pins where they were, and the sample is whatever the line
// then shows.
int I2C_ReadBit() {
  write_primitive(kBitInputBeforeSample);
  const int bit = sample_sda();
  write_primitive(kBitInputAfterSample);
  return bit;
}

int I2C_ReadByte() {
  int value = 0;
  for (int i = 0; i < 8; ++i) value = value * 2 + I2C_ReadBit();
  return value;
}

// assert: SCL low. Leaves SCL low, SDA low after an acknowledge, released after a
// not-acknowledge.
int I2C_SendAck(int nack) {
  return write_primitive((nack & 1) != 0 ? kBitOne : kBitZero);
}

int I2C_WritePins(int value) {
  const std::array<std::uint8_t, 1> step{static_cast<std::uint8_t>(value & 0xFF)};
  return write_primitive(step);
}

int I2C_ReadSda() {
  return sample_sda();
}
