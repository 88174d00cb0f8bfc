// Reads the simulated adapter's call log and decodes the master's pin steps into I2C bus
// transactions, so that tests compare "S A0 ack 05 ack Sr A1 ack [FF] nack P" rather than byte
// dumps.
//
// Tokens: "S" start, "Sr" repeated start, "P" stop, "A0" a byte the master wrote, "[FF]" a byte
// the master read (every bit sampled from the line), "ack"/"nack" the ninth bit (low/high).
// Anything the decoder cannot make sense of shows as a token starting with '?'.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trace {

struct AdapterCall {
  std::string entry;                // "FT_Write", "FT_GetBitMode", ...
  std::vector<std::uint8_t> bytes;  // FT_Write: the pin-state bytes; FT_SetBitMode: mask, mode
  std::string argument;             // FT_Open, FT_SetBaudRate: the argument as logged
  unsigned long status = 0;
  int pins = -1;  // FT_GetBitMode: the byte read, -1 when the read failed
};

// Parses a call log; summary lines (starting with '#') are skipped.
std::vector<AdapterCall> read_call_log(const std::string& path);

// Decodes the master's view of the bus: what successful writes put on the pins and what
// successful pin reads sampled while SCL was high. Failed writes did not reach the pins.
std::vector<std::string> decode_transactions(const std::vector<AdapterCall>& calls);

// Splits "S A0 ack" into tokens.
std::vector<std::string> tokens(const std::string& text);

// One line per token with the first difference marked, for test failure messages; empty when
// the two sequences are equal.
std::string describe_difference(const std::vector<std::string>& expected,
                                const std::vector<std::string>& actual);

}  // namespace trace
