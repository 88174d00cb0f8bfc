#include "bus_trace.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace trace {

std::vector<AdapterCall> read_call_log(const std::string& path) {
  std::vector<AdapterCall> calls;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    std::string number;
    AdapterCall call;
    in >> number >> call.entry;
    std::string word;
    std::vector<std::string> arguments;
    while (in >> word && word != ":") arguments.push_back(word);
    in >> call.status;
    if (call.entry == "FT_Write" || call.entry == "FT_SetBitMode") {
      for (const auto& hex : arguments) {
        call.bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
      }
    } else if (!arguments.empty()) {
      call.argument = arguments[0];
    }
    if (call.entry == "FT_GetBitMode" && in >> word) {
      call.pins = static_cast<int>(std::stoul(word, nullptr, 16));
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

namespace {

std::string hex(int byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
  return text;
}

class Decoder {
 public:
  void step(std::uint8_t pins) {
    const bool scl = (pins & 0x01) != 0;
    const bool sda = (pins & 0x02) != 0;
    if (scl_ && scl && sda != sda_) {
      bit_pending_ = false;
      sda ? condition_stop() : condition_start();
    } else if (!scl_ && scl) {
      bit_pending_ = true;
      bit_value_ = sda;
      bit_sampled_ = false;
      bit_released_ = sda;
    } else if (scl_ && !scl && bit_pending_) {
      bit_pending_ = false;
      commit_bit();
    }
    scl_ = scl;
    sda_ = sda;
  }

  // A pin read while SCL is high samples the bit being clocked.
  void sample(int pins) {
    if (!scl_ || !bit_pending_ || !bit_released_) return;
    bit_value_ = (pins & 0x04) != 0;
    bit_sampled_ = true;
  }

  std::vector<std::string> finish() {
    if (bits_ != 0) out_.push_back("?" + std::to_string(bits_) + "bits");
    return std::move(out_);
  }

 private:
  void condition_start() {
    flush_partial();
    out_.push_back(in_transaction_ ? "Sr" : "S");
    in_transaction_ = true;
  }
  void condition_stop() {
    flush_partial();
    out_.push_back("P");
    in_transaction_ = false;
  }
  void flush_partial() {
    if (bits_ != 0 && in_transaction_) out_.push_back("?" + std::to_string(bits_) + "bits");
    bits_ = 0;
    byte_ = 0;
    sampled_bits_ = 0;
  }
  void commit_bit() {
    if (!in_transaction_) return;  // clocks outside a transaction (the bring-up) mean nothing
    if (bits_ == 8) {
      out_.push_back(bit_value_ ? "nack" : "ack");
      bits_ = 0;
      byte_ = 0;
      sampled_bits_ = 0;
      return;
    }
    byte_ = (byte_ << 1) | (bit_value_ ? 1 : 0);
    if (bit_sampled_) ++sampled_bits_;
    if (++bits_ == 8) {
      if (sampled_bits_ == 8) {
        out_.push_back("[" + hex(byte_) + "]");
      } else if (sampled_bits_ == 0) {
        out_.push_back(hex(byte_));
      } else {
        out_.push_back("?" + hex(byte_));
      }
    }
  }

  std::vector<std::string> out_;
  bool scl_ = true;
  bool sda_ = true;
  bool in_transaction_ = false;
  bool bit_pending_ = false;
  bool bit_value_ = false;
  bool bit_sampled_ = false;
  bool bit_released_ = false;
  int bits_ = 0;
  int byte_ = 0;
  int sampled_bits_ = 0;
};

}  // namespace

std::vector<std::string> decode_transactions(const std::vector<AdapterCall>& calls) {
  Decoder decoder;
  for (const auto& call : calls) {
    if (call.entry == "FT_Write" && call.status == 0) {
      for (const auto pins : call.bytes) decoder.step(pins);
    } else if (call.entry == "FT_GetBitMode" && call.status == 0) {
      decoder.sample(call.pins);
    }
  }
  return decoder.finish();
}

std::vector<std::string> tokens(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  std::string token;
  while (in >> token) out.push_back(token);
  return out;
}

std::string describe_difference(const std::vector<std::string>& expected,
                                const std::vector<std::string>& actual) {
  std::size_t first = 0;
  while (first < expected.size() && first < actual.size() && expected[first] == actual[first]) {
    ++first;
  }
  if (first == expected.size() && first == actual.size()) return {};
  std::ostringstream out;
  out << "bus traffic differs at token " << first << ":\n";
  const std::size_t from = first > 6 ? first - 6 : 0;
  const std::size_t to = first + 6;
  for (std::size_t i = from; i < to && (i < expected.size() || i < actual.size()); ++i) {
    const std::string e = i < expected.size() ? expected[i] : "(end)";
    const std::string a = i < actual.size() ? actual[i] : "(end)";
    out << (i == first ? "  >> " : "     ") << "expected " << e << ", got " << a << "\n";
  }
  return out.str();
}

}  // namespace trace
