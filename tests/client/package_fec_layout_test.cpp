#include "client/package_fec_layout.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

TEST(FecLayout, Shapes) {
  struct Case {
    FecParams params;
    uint32_t length;
    uint32_t symbols, stripes, blocks, repairs;
  } cases[] = {
      // One byte: one symbol, one block of one, one repair.
      {{1143, 232, 8, 8}, 1, 1, 1, 1, 1},
      // 100 KB: 90 symbols in one block with ceil(7.2) = 8 repairs.
      {{1143, 232, 8, 8}, 102400, 90, 1, 1, 8},
      // 1 MiB: 918 symbols, one stripe of 4 blocks (230, 230, 229, 229), 19 repairs each.
      {{1143, 232, 8, 8}, 1 << 20, 918, 1, 4, 76},
      // A full stripe is 8 * 232 = 1856 symbols; one more makes a second stripe of one block.
      {{1143, 232, 8, 8}, 1856 * 1143, 1856, 1, 8, 152},
      {{1143, 232, 8, 8}, 1856 * 1143 + 1, 1857, 2, 9, 153},
      // 8 MiB: 7340 symbols, 3 full stripes (24 blocks of 232) and 1772 in 8 blocks.
      {{1143, 232, 8, 8}, 8 << 20, 7340, 4, 32, 24 * 19 + 4 * 18 + 4 * 18},
      {{4, 3, 50, 2}, 10, 3, 1, 1, 2},
      {{4, 3, 0, 2}, 10, 3, 1, 1, 0},
  };
  for (const Case& c : cases) {
    FecLayout layout;
    ASSERT_TRUE(MakeFecLayout(c.params, c.length, &layout)) << c.length;
    EXPECT_EQ(layout.symbol_count, c.symbols) << c.length;
    EXPECT_EQ(layout.stripe_count, c.stripes) << c.length;
    EXPECT_EQ(layout.block_count, c.blocks) << c.length;
    EXPECT_EQ(layout.repair_count, c.repairs) << c.length;
    uint32_t sources = 0;
    uint32_t repairs = 0;
    for (uint32_t b = 0; b < layout.block_count; ++b) {
      sources += BlockSourceCount(layout, b);
      repairs += BlockRepairCount(layout, b);
      EXPECT_LE(BlockSourceCount(layout, b), c.params.block_symbols);
    }
    EXPECT_EQ(sources, layout.symbol_count);
    EXPECT_EQ(repairs, layout.repair_count);
  }
}

TEST(FecLayout, RefusesWhatCannotBeCoded) {
  FecLayout layout;
  EXPECT_FALSE(MakeFecLayout({0, 232, 8, 8}, 100, &layout));
  EXPECT_FALSE(MakeFecLayout({1143, 0, 8, 8}, 100, &layout));
  EXPECT_FALSE(MakeFecLayout({1143, 232, 8, 0}, 100, &layout));
  EXPECT_FALSE(MakeFecLayout({1143, 232, 8, 8}, 0, &layout));
  EXPECT_FALSE(MakeFecLayout({1143, 232, 101, 8}, 100, &layout));
  EXPECT_FALSE(MakeFecLayout({1143, 240, 8, 8}, 100, &layout)) << "240 + 20 points";
  EXPECT_TRUE(MakeFecLayout({1143, 236, 8, 8}, 100, &layout)) << "236 + 19 points";
  EXPECT_TRUE(MakeFecLayout({1, 128, 100, 1}, 1, &layout));
  EXPECT_FALSE(MakeFecLayout({1, 1, 0, 1}, 0xFFFFFFFFu, &layout)) << "more blocks than ids name";
  EXPECT_TRUE(MakeFecLayout({1, 1, 0, 1}, kMaxBlocks, &layout));
}

// Every source lands in exactly one (block, position), SourceAt undoes PlaceOfSource, and
// neighbours in the package lie in different blocks whenever the stripe has more than one.
TEST(FecLayout, PlacementIsABijectionThatInterleaves) {
  const FecParams params_list[] = {{1143, 232, 8, 8}, {10, 7, 30, 3}, {10, 5, 20, 1}};
  for (const FecParams& params : params_list) {
    for (uint32_t symbols : {1u, 2u, 20u, 21u, 22u, 1856u, 1900u, 4000u}) {
      FecLayout layout;
      ASSERT_TRUE(MakeFecLayout(params, symbols * params.symbol_size - 1, &layout));
      std::set<std::pair<uint32_t, uint32_t>> places;
      for (uint32_t i = 0; i < layout.symbol_count; ++i) {
        const BlockPlace place = PlaceOfSource(layout, i);
        ASSERT_LT(place.block, layout.block_count);
        ASSERT_LT(place.position, BlockSourceCount(layout, place.block));
        EXPECT_TRUE(places.insert({place.block, place.position}).second);
        EXPECT_EQ(SourceAt(layout, place.block, place.position), i);
        if (i > 0 && StripeAt(layout, i / (params.block_symbols * params.stripe_blocks)).blocks > 1 &&
            (i % (params.block_symbols * params.stripe_blocks)) != 0) {
          EXPECT_NE(PlaceOfSource(layout, i - 1).block, place.block) << i;
        }
      }
      EXPECT_EQ(places.size(), layout.symbol_count);
    }
  }
}

TEST(FecLayout, SymbolIds) {
  FecLayout layout;
  ASSERT_TRUE(MakeFecLayout({4, 3, 50, 2}, 30, &layout));  // 8 symbols: stripes of 6 and 2
  ASSERT_EQ(layout.block_count, 3u);
  EXPECT_EQ(BlockRepairCount(layout, 2), 1u) << "a block of 2 gets ceil(1.0) repairs";
  EXPECT_EQ(SourceLength(layout, 7), 2u);
  EXPECT_EQ(SourceLength(layout, 6), 4u);
  EXPECT_TRUE(SymbolIdValid(layout, 7));
  EXPECT_FALSE(SymbolIdValid(layout, 8));
  EXPECT_TRUE(SymbolIdValid(layout, RepairSymbolId(1, 1)));
  EXPECT_FALSE(SymbolIdValid(layout, RepairSymbolId(1, 2)));
  EXPECT_TRUE(SymbolIdValid(layout, RepairSymbolId(2, 0)));
  EXPECT_FALSE(SymbolIdValid(layout, RepairSymbolId(2, 1)));
  EXPECT_FALSE(SymbolIdValid(layout, RepairSymbolId(3, 0)));
  EXPECT_EQ(RepairSymbolId(2, 1), 0x80000201u);
}

}  // namespace
