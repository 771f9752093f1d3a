// The acceptance and gathering rules, driven with a fake clock and a recording transport.
#include "client/client_core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Sent {
  uint32_t kind;
  std::vector<std::pair<uint32_t, uint32_t>> numbers;  // wire key, value
  uint32_t data_key = 0;
  std::string data;
};

std::vector<Sent> g_sent;
int32_t g_now = 1700000000;
int g_loads = 0;

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

int RecordSend(const uint8_t* bytes, int length) {
  Sent sent;
  sent.kind = U32(bytes + 4);
  const uint32_t payload = U32(bytes + 31);
  EXPECT_EQ(size_t(length), 35u + payload);
  if (sent.kind == KIND_NUMBERS) {
    for (uint32_t off = 35; off < 35 + payload; off += 8) sent.numbers.push_back({U32(bytes + off), U32(bytes + off + 4)});
  } else {
    sent.data_key = U32(bytes + 35);
    sent.data.assign(reinterpret_cast<const char*>(bytes) + 43, U32(bytes + 39));
  }
  g_sent.push_back(sent);
  return length;
}

int32_t FakeNow() { return g_now; }
void CountLoad() { ++g_loads; }

const ClientEnv kEnv = {FakeNow, RecordSend, CountLoad};

class ClientCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&state, 0, sizeof state);
    std::memcpy(state.machine_id, "00112233445566AA", 17);
    std::strcpy(state.hardware_profile, "id=00112233445566AA&cname=x");
    g_sent.clear();
    g_now = 1700000000;
    g_loads = 0;
  }
  void CompleteIdentities() {
    ReportCounter(state, kEnv, 1, 7, 0);
    ReportCounter(state, kEnv, 3, 20, 0);
    ReportCounter(state, kEnv, 4, 300, 0);
  }
  static uint32_t Wire(int key) { return (20u << 16) | uint32_t(key); }
  ClientState state;
};

TEST_F(ClientCoreTest, IdentitiesNeedThreeNonzeroValuesAndThenStayFixed) {
  ReportCounter(state, kEnv, 1, 0, 0);
  ReportCounter(state, kEnv, 3, 20, 0);
  ReportCounter(state, kEnv, 4, 300, 0);
  EXPECT_FALSE(IdentitiesComplete(state));
  EXPECT_EQ(ReportCounter(state, kEnv, 5, 1, 0), 0);
  EXPECT_TRUE(g_sent.empty()) << "reports before the identities are complete are dropped";
  EXPECT_EQ(ReportText(state, kEnv, 5, "x"), -1);
  EXPECT_EQ(ReportBlob(state, kEnv, 5, "x", 1), -1);
  EXPECT_EQ(ReportFin(state, kEnv), -1);
  EXPECT_EQ(g_loads, 0) << "refused texts, blobs and Fin load nothing";

  ReportInt(state, kEnv, 1, 7, 0);
  ASSERT_TRUE(IdentitiesComplete(state));
  EXPECT_EQ(ReportCounter(state, kEnv, 3, 99, 0), 0);
  EXPECT_EQ(ReportInt(state, kEnv, 1, 99, 0), 0);
  EXPECT_EQ(state.identity3, 20);
  EXPECT_EQ(state.identity1, 7);
  EXPECT_TRUE(g_sent.empty());
  EXPECT_EQ(ReportText(state, kEnv, 3, "x"), -1);
  EXPECT_EQ(ReportBlob(state, kEnv, 4, "x", 1), -1);
}

TEST_F(ClientCoreTest, WithoutGatheringEveryModeSendsAtOnce) {
  CompleteIdentities();
  ReportCounter(state, kEnv, 5, 1000, 1);
  ReportCounter(state, kEnv, 6, 2, 7);
  ReportInt(state, kEnv, 8, 9, 1);
  ASSERT_EQ(g_sent.size(), 3u);
  EXPECT_EQ(g_sent[0].numbers, (std::vector<std::pair<uint32_t, uint32_t>>{{Wire(5), 1000}}));
  EXPECT_EQ(g_sent[1].numbers[0].second, 2u);
  EXPECT_EQ(g_sent[2].numbers[0].first, Wire(8));
  EXPECT_EQ(state.cycle_table.entries[0].in_use, 0);
}

TEST_F(ClientCoreTest, CounterGatheringFlushesFirstThenAfter1800Seconds) {
  state.cycle_gather = 1;
  CompleteIdentities();
  ReportCounter(state, kEnv, 5, 5, 1);  // LastFlushTime starts at 0: flushed at once
  ASSERT_EQ(g_sent.size(), 1u);
  EXPECT_EQ(g_sent[0].numbers, (std::vector<std::pair<uint32_t, uint32_t>>{{Wire(5), 5}}));
  EXPECT_EQ(state.last_flush_time, g_now);
  EXPECT_EQ(state.cycle_table.entries[0].value, 0u) << "the counter flush resets the value";

  g_now += 1800;
  ReportCounter(state, kEnv, 5, 3, 1);
  ReportCounter(state, kEnv, 6, 4, 1);
  EXPECT_EQ(g_sent.size(), 1u) << "1800 seconds is not yet more than 1800";
  ReportCounter(state, kEnv, 7, 1, 2);  // mode 2 while gathering: neither sent nor stored
  ReportCounter(state, kEnv, 8, 1, 0);  // mode 0 still sends at once, leaving the table alone
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[1].numbers, (std::vector<std::pair<uint32_t, uint32_t>>{{Wire(8), 1}}));

  g_now += 1;
  ReportCounter(state, kEnv, 5, 10, 1);
  ASSERT_EQ(g_sent.size(), 3u);
  EXPECT_EQ(g_sent[2].numbers, (std::vector<std::pair<uint32_t, uint32_t>>{{Wire(5), 13}, {Wire(6), 4}}));
  EXPECT_EQ(state.last_flush_time, g_now);
}

TEST_F(ClientCoreTest, IntegerFlushResendsLastValues) {
  state.cycle_gather = 1;
  CompleteIdentities();
  ReportInt(state, kEnv, 9, 42, 1);
  ASSERT_EQ(g_sent.size(), 1u);
  EXPECT_EQ(state.cycle_table.entries[0].value, 42u);
  ReportInt(state, kEnv, 9, 43, 1);
  g_now += 1801;
  ReportInt(state, kEnv, 10, 1, 1);
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[1].numbers, (std::vector<std::pair<uint32_t, uint32_t>>{{Wire(9), 43}, {Wire(10), 1}}));
  // A counter on a key an integer set lands in the same entry.
  ReportCounter(state, kEnv, 9, 2, 1);
  EXPECT_EQ(state.cycle_table.entries[0].value, 45u);
}

TEST_F(ClientCoreTest, IntegerGatheringTakesIdentityKeysEvenWhenComplete) {
  state.cycle_gather = 1;
  ReportInt(state, kEnv, 3, 20, 1);  // before completion: stored in the table and applied
  ReportInt(state, kEnv, 4, 300, 0);
  ReportInt(state, kEnv, 1, 7, 0);
  ASSERT_TRUE(IdentitiesComplete(state));
  ReportInt(state, kEnv, 1, 8, 1);  // after completion: stored, identity untouched
  EXPECT_EQ(state.identity1, 7);
  EXPECT_TRUE(g_sent.empty());
  EXPECT_EQ(ReportFin(state, kEnv), 0);
  ASSERT_EQ(g_sent.size(), 1u);
  EXPECT_EQ(g_sent[0].numbers, (std::vector<std::pair<uint32_t, uint32_t>>{{Wire(3), 20}, {Wire(1), 8}}));
}

TEST_F(ClientCoreTest, FiftyKeysFitAndTheFiftyFirstIsDropped) {
  state.cycle_gather = 1;
  CompleteIdentities();
  state.last_flush_time = g_now;  // keep everything in the table
  for (int key = 100; key < 151; ++key) ReportCounter(state, kEnv, key, 1, 1);
  ReportCounter(state, kEnv, 100, 1, 1);
  ReportCounter(state, kEnv, 149, 1, 1);
  EXPECT_TRUE(g_sent.empty());
  EXPECT_EQ(ReportFin(state, kEnv), 0);
  ASSERT_EQ(g_sent.size(), 1u);
  ASSERT_EQ(g_sent[0].numbers.size(), 50u);
  EXPECT_EQ(g_sent[0].numbers[0].second, 2u);
  EXPECT_EQ(g_sent[0].numbers[49], (std::pair<uint32_t, uint32_t>{Wire(149), 2}));
  // Fin leaves the values as they are.
  EXPECT_EQ(ReportFin(state, kEnv), 0);
  EXPECT_EQ(g_sent[1].numbers[0].second, 2u);
}

TEST_F(ClientCoreTest, FinWithEmptyTableSendsNothing) {
  CompleteIdentities();
  EXPECT_EQ(ReportFin(state, kEnv), 0);
  EXPECT_TRUE(g_sent.empty());
  EXPECT_EQ(g_loads, 1);
}

TEST_F(ClientCoreTest, TextsAreCutAndKey18SendsTheProfile) {
  CompleteIdentities();
  EXPECT_EQ(ReportText(state, kEnv, 5, nullptr), -1);
  EXPECT_EQ(ReportText(state, kEnv, 5, ""), -1);
  std::string long_text(600, 'q');
  long_text[511] = 'z';
  EXPECT_EQ(ReportText(state, kEnv, 5, long_text.c_str()), 0);
  EXPECT_EQ(ReportText(state, kEnv, 18, ""), 0);
  EXPECT_EQ(ReportText(state, kEnv, 18, "own text"), 0);
  ASSERT_EQ(g_sent.size(), 3u);
  EXPECT_EQ(g_sent[0].data, long_text.substr(0, 512));
  EXPECT_EQ(g_sent[0].kind, uint32_t(KIND_TEXT));
  EXPECT_EQ(g_sent[1].data, state.hardware_profile);
  EXPECT_EQ(g_sent[1].data_key, Wire(18));
  EXPECT_EQ(g_sent[2].data, "own text");
}

TEST_F(ClientCoreTest, BlobsAreCutAndBadLengthsRefused) {
  CompleteIdentities();
  std::vector<char> blob(100000, 'b');
  blob[64511] = 'e';
  EXPECT_EQ(ReportBlob(state, kEnv, 17, nullptr, 5), -1);
  EXPECT_EQ(ReportBlob(state, kEnv, 17, blob.data(), 0), -1);
  EXPECT_EQ(ReportBlob(state, kEnv, 17, blob.data(), -5), -1);
  EXPECT_EQ(ReportBlob(state, kEnv, 17, blob.data(), int(blob.size())), 0);
  ASSERT_EQ(g_sent.size(), 1u);
  EXPECT_EQ(g_sent[0].kind, uint32_t(KIND_BLOB));
  ASSERT_EQ(g_sent[0].data.size(), 64512u);
  EXPECT_EQ(g_sent[0].data.back(), 'e');
}

}  // namespace
