// The five entry points of the adapter's driver library that the bus drives, declared from how
// the bus calls them. The simulated adapter in sim/ exports functions of exactly these types.
// Statuses are 32-bit unsigned with 0 for success; the device handle is opaque to the caller.
#pragma once

#include <cstdint>

using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;

inline constexpr FT_STATUS FT_OK = 0;

// The driver is built with the stdcall convention on 32-bit Windows; elsewhere the platform's
// only C convention applies.
#if defined(_WIN32)
#define FT_API __stdcall
#else
#define FT_API
#endif

extern "C" {
// Opens adapter number `index` (0 = the first the driver enumerates).
using FT_OpenFn = FT_STATUS(FT_API*)(int index, FT_HANDLE* handle);
// Sets the bit-bang step rate through the baud-rate generator.
using FT_SetBaudRateFn = FT_STATUS(FT_API*)(FT_HANDLE handle, std::uint32_t baud_rate);
// `mask` selects the output pins (1 = output); `mode` 0x01 is asynchronous bit-bang.
using FT_SetBitModeFn = FT_STATUS(FT_API*)(FT_HANDLE handle, std::uint8_t mask, std::uint8_t mode);
// Applies `count` pin-state bytes to the pins in order, one per step of the bit-bang clock.
using FT_WriteFn = FT_STATUS(FT_API*)(FT_HANDLE handle, void* bytes, std::uint32_t count,
                                      std::uint32_t* written);
// Reads the instantaneous levels of the eight data pins.
using FT_GetBitModeFn = FT_STATUS(FT_API*)(FT_HANDLE handle, std::uint8_t* pins);
}
