#include "client/client_core.h"

#include <cstring>

namespace {

// Datagram buffers, each beside the 35-byte header area. Sized so a report never allocates.
constexpr size_t kCounterBufferSize = kHeaderSize + 1024;
constexpr size_t kIntBufferSize = kHeaderSize + 2048;
constexpr size_t kTextBufferSize = kHeaderSize + 1536;
constexpr size_t kBlobBufferSize = kHeaderSize + 65536;

static_assert(kCounterBufferSize >= size_t(kHeaderSize) + kMaxNumberRecords * kNumberRecordSize, "");
static_assert(kTextBufferSize >= size_t(kHeaderSize) + kDataRecordHeaderSize + kMaxTextLength, "");
static_assert(kBlobBufferSize >= size_t(kHeaderSize) + kDataRecordHeaderSize + kMaxBlobLength, "");

bool IsIdentityKey(int32_t key) {
  return key == kKeyIdentity1 || key == kKeyIdentity3 || key == kKeyIdentity4;
}

DatagramIdentity IdentityOf(const ClientState& state) {
  return DatagramIdentity{state.machine_id, state.identity1, state.identity3, state.identity4};
}

// While the identities are incomplete the number reports only fill them in.
void StoreIdentity(ClientState& state, int32_t key, int32_t value) {
  if (key == kKeyIdentity1) state.identity1 = value;
  if (key == kKeyIdentity3) state.identity3 = value;
  if (key == kKeyIdentity4) state.identity4 = value;
}

template <size_t kBufferSize>
void SendNumbers(const ClientState& state, const ClientEnv& env, const NumberRecord* records, int count) {
  uint8_t buffer[kBufferSize];
  size_t length = BuildNumbersDatagram(buffer, sizeof buffer, IdentityOf(state), records, count);
  if (length > 0) env.send(buffer, int(length));
}

// Sends every entry in use as one datagram; returns how many records went out.
template <size_t kBufferSize>
int CycleFlush(ClientState& state, const ClientEnv& env, bool reset) {
  NumberRecord records[kCycleTableSize];
  int count = CycleTableCollect(state.cycle_table, records, reset);
  if (count > 0) SendNumbers<kBufferSize>(state, env, records, count);
  return count;
}

bool FlushIsDue(const ClientState& state, int32_t now) {
  return int64_t(now) - int64_t(state.last_flush_time) > kFlushIntervalSeconds;
}

// Steps shared by the two number reports once the identities are complete and the key is an
// ordinary one. The counter flush resets the values it sends; the integer flush re-sends them.
template <size_t kBufferSize>
void SendOrGather(ClientState& state, const ClientEnv& env, int32_t key, int32_t value, int32_t effective_mode,
                  bool reset_on_flush) {
  int32_t now = env.now();
  if (effective_mode == 1 && FlushIsDue(state, now)) {
    if (CycleFlush<kBufferSize>(state, env, reset_on_flush) > 0) state.last_flush_time = now;
  } else if (effective_mode == 0) {
    NumberRecord record{key, uint32_t(value)};
    SendNumbers<kBufferSize>(state, env, &record, 1);
  }
  // Any other mode while gathering is on drops the report.
}

int32_t EffectiveMode(const ClientState& state, int32_t mode) { return state.cycle_gather ? mode : 0; }

}  // namespace

bool IdentitiesComplete(const ClientState& state) {
  return state.identity1 != 0 && state.identity3 != 0 && state.identity4 != 0;
}

int ReportCounter(ClientState& state, const ClientEnv& env, int32_t key, int32_t value, int32_t mode) {
  if (!IdentitiesComplete(state)) {
    StoreIdentity(state, key, value);
    return 0;
  }
  if (IsIdentityKey(key)) return 0;  // identities are fixed once complete
  int32_t effective_mode = EffectiveMode(state, mode);
  if (effective_mode == 1) CycleTableAdd(state.cycle_table, key, uint32_t(value));
  SendOrGather<kCounterBufferSize>(state, env, key, value, effective_mode, /*reset_on_flush=*/true);
  return 0;
}

int ReportInt(ClientState& state, const ClientEnv& env, int32_t key, int32_t value, int32_t mode) {
  // Gathering comes before the identity rules, so even keys 1, 3 and 4 land in the table.
  if (state.cycle_gather && mode == 1) CycleTableSet(state.cycle_table, key, uint32_t(value));
  if (!IdentitiesComplete(state)) {
    StoreIdentity(state, key, value);
    return 0;
  }
  if (IsIdentityKey(key)) return 0;
  SendOrGather<kIntBufferSize>(state, env, key, value, EffectiveMode(state, mode), /*reset_on_flush=*/false);
  return 0;
}

int ReportText(ClientState& state, const ClientEnv& env, int32_t key, const char* text) {
  if (!text || !IdentitiesComplete(state) || IsIdentityKey(key)) return kReportRefused;
  env.load_config();
  // Only the first 512 bytes can go out, so there is no need to measure further.
  size_t length = strnlen(text, kMaxTextLength + 1);
  if (length == 0) {
    if (key != KEY_HARDWARE_PROFILE) return kReportRefused;
    text = state.hardware_profile;
    length = strnlen(text, kMaxTextLength + 1);
    if (length == 0) return kReportRefused;  // a profile that was never built is not sent as empty
  }
  if (length > size_t(kMaxTextLength)) length = kMaxTextLength;
  uint8_t buffer[kTextBufferSize];
  size_t size = BuildDataDatagram(buffer, sizeof buffer, KIND_TEXT, IdentityOf(state), key, text, uint32_t(length));
  env.send(buffer, int(size));
  return 0;
}

int ReportBlob(ClientState& state, const ClientEnv& env, int32_t key, const void* data, int32_t length) {
  if (!data || length <= 0 || !IdentitiesComplete(state) || IsIdentityKey(key)) return kReportRefused;
  env.load_config();
  if (length > kMaxBlobLength) length = kMaxBlobLength;  // cut, never split
  uint8_t buffer[kBlobBufferSize];
  size_t size = BuildDataDatagram(buffer, sizeof buffer, KIND_BLOB, IdentityOf(state), key, data, uint32_t(length));
  env.send(buffer, int(size));
  return 0;
}

int ReportFin(ClientState& state, const ClientEnv& env) {
  if (!IdentitiesComplete(state)) return kReportRefused;
  env.load_config();
  CycleFlush<kCounterBufferSize>(state, env, /*reset=*/false);
  return 0;
}
