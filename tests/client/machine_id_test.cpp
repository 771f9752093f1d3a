#include "client/machine_id.h"

#include <gtest/gtest.h>

namespace {

TEST(MachineId, MixesAdapterAndSerial) {
  struct Case {
    uint8_t adapter[6];
    uint32_t serial;
    const char* id;
  } cases[] = {
      {{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, 0xAABBCCDD, "BB11CC104410DDCC"},
      {{0, 0, 0, 0, 0, 0}, 0x12345678, "3400127800347856"},
      {{0, 0, 0, 0, 0, 0}, 0, "0000000000000000"},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x01010101, "00FF0000FF000101"},  // sums wrap at 256
  };
  for (const Case& c : cases) {
    char out[kMachineIdSize];
    MixMachineId(c.adapter, c.serial, out);
    EXPECT_STREQ(out, c.id);
  }
}

}  // namespace
