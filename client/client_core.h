// The rules by which each export accepts, gathers or sends a report. Portable: the Windows exports
// hand in the clock, the transport and the once-only configuration load, and hold ClientLock around
// the two number reports.
#pragma once

#include <cstdint>

#include "VXIdent.h"
#include "client/cycle_table.h"
#include "client/datagram.h"
#include "client/hardware_profile.h"
#include "client/machine_id.h"

// The keys with a fixed meaning are the ones the host knows from the public header.
constexpr int32_t kKeyIdentity1 = VXIDENT_KEY_IDENTITY1;
constexpr int32_t kKeyIdentity3 = VXIDENT_KEY_IDENTITY3;
constexpr int32_t kKeyIdentity4 = VXIDENT_KEY_IDENTITY4;
constexpr int32_t KEY_DUMP_PACKAGE = VXIDENT_KEY_DUMP_PACKAGE;
constexpr int32_t KEY_HARDWARE_PROFILE = VXIDENT_KEY_HARDWARE_PROFILE;

// A gathered report flushes the table once this many seconds have passed since the last flush
// (strictly more: 1801 seconds or more).
constexpr int64_t kFlushIntervalSeconds = 1800;

constexpr int kReportRefused = -1;

struct ClientState {
  int32_t identity1;
  int32_t identity3;
  int32_t identity4;
  CycleTable cycle_table;
  int32_t last_flush_time;  // seconds since 1970; 0 until the first timed flush
  int32_t cycle_gather;     // from the configuration; nonzero turns gathering on
  char machine_id[kMachineIdSize];
  char hardware_profile[kHardwareProfileSize];
};

struct ClientEnv {
  int32_t (*now)();                                // seconds since 1970-01-01 UTC
  int (*send)(const uint8_t* bytes, int length);  // the result is ignored
  void (*load_config)();                          // once-only; later calls return at once
};

bool IdentitiesComplete(const ClientState& state);

// The bodies of the exports of the same names, minus ClientLock (the caller holds it for the two
// number reports). Results are the exports' results.
int ReportCounter(ClientState& state, const ClientEnv& env, int32_t key, int32_t value, int32_t mode);
int ReportInt(ClientState& state, const ClientEnv& env, int32_t key, int32_t value, int32_t mode);
int ReportText(ClientState& state, const ClientEnv& env, int32_t key, const char* text);
int ReportBlob(ClientState& state, const ClientEnv& env, int32_t key, const void* data, int32_t length);
int ReportFin(ClientState& state, const ClientEnv& env);
