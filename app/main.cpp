// EEPROM test driver: brings the bus up, then reads the first 32 bytes of the EEPROM, writes a
// descending pattern, reads it back, writes zeros and reads back again, printing one fixed-width
// record per address and pass. It compares nothing: the records are for a person to read.
#include <cstdio>

#include "console.h"
#include "eeprom.h"
#include "i2c_bus.h"

namespace {

constexpr int kEepromType = 2;
constexpr int kFirstAddress = 0;
constexpr int kEndAddress = kFirstAddress + 32;

void read_pass() {
  for (int address = kFirstAddress; address < kEndAddress; ++address) {
    int value = 0;
    const int result = EEPROM_ReadByte(address, &value);
    std::printf("%4.4x %1.1x %2.2x ", address, result, value);
  }
}

template <typename Pattern>
void write_pass(Pattern data_for) {
  for (int address = kFirstAddress; address < kEndAddress; ++address) {
    const int result = EEPROM_WriteByte(address, data_for(address));
    std::printf("%4.4x %1.1x    ", address, result);
  }
}

void wait_for_key() {
  std::printf("Hit any key ");
  CONSOLE_WaitForKey();
}

}  // namespace

int main() {
  CONSOLE_PrepareOutput();
  if (I2C_Init() != 0) {
    std::printf("Erreur a l'initialisation I2C\n");
    wait_for_key();
    return 0;
  }
  EEPROM_SelectType(kEepromType);

  std::printf("Lecture initiale\n");
  read_pass();
  std::printf("\nEcriture\n");
  write_pass([](int address) { return 0xFF - address; });
  std::printf("\nLecture du resultat\n");
  read_pass();
  std::printf("\nRe-ecriture\n");
  write_pass([](int) { return 0x00; });
  std::printf("\nLecture du resultat\n");
  read_pass();
  std::printf("\n");
  wait_for_key();
  return 0;
}
