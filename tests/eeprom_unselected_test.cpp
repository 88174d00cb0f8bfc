// EEPROM access in a process where no EEPROM type was ever selected. A program of its own, so
// that no other test can have selected a type first.
#include <gtest/gtest.h>

#include "eeprom.h"
#include "sim_bench.h"

namespace {

TEST(EepromUnselected, OperationsReturnTwoWithoutBusTraffic) {
  SimBench bench;
  ASSERT_EQ(bench.init_result(), 0);
  bench.mark();
  int value = 0x5555;
  EXPECT_EQ(EEPROM_ReadByte(5, &value), kEepromNoTypeSelected);
  EXPECT_EQ(value, 0x5555);
  EXPECT_EQ(EEPROM_WriteByte(5, 0), kEepromNoTypeSelected);
  EXPECT_EQ(bench.call_count(), 0u);
}

}  // namespace
