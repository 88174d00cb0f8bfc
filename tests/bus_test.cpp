// The bus primitives against the simulated adapter: exact pin-state bytes, one write call per
// primitive, and the bring-up's call sequence.
#include <gtest/gtest.h>

#include "i2c_bus.h"
#include "sim_bench.h"

namespace {

TEST(BusInit, HealthyAdapterBringsTheBusUpWithEightCalls) {
  SimBench bench;
  ASSERT_EQ(bench.init_result(), 0);
  const auto calls = bench.calls();
  ASSERT_EQ(calls.size(), 8u);
  EXPECT_EQ(calls[0].entry, "FT_Open");
  EXPECT_EQ(calls[1].entry, "FT_SetBaudRate");
  EXPECT_EQ(calls[1].argument, "57600");
  EXPECT_EQ(calls[7].bytes, (std::vector<std::uint8_t>{0x00, 0x01, 0x03, 0x02}));
}

}  // namespace
