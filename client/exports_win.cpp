// The six exports of VXIdent.dll.
#include <windows.h>

#include "client/client_state_win.h"
#include "client/config_load_win.h"
#include "client/library_wiring_win.h"
#include "client/report_clock_win.h"
#include "client/transport_win.h"
#include "crashmodule/vx_exception.h"

#include "VXIdent.h"  // VXIDENT_BUILDING_DLL comes from the build: no dllimport here

namespace {

// ClientLock exists from the moment the library is loaded, so a number report made before
// VXIdent_Init (outside the host contract) is harmless, and a second VXIdent_Init creates nothing.
struct ClientLock {
  CRITICAL_SECTION section;
  ClientLock() { InitializeCriticalSection(&section); }
};
ClientLock g_client_lock;

class LockHolder {
 public:
  LockHolder() { EnterCriticalSection(&g_client_lock.section); }
  ~LockHolder() { LeaveCriticalSection(&g_client_lock.section); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
};

int SendForReport(const uint8_t* bytes, int length) { return SendDatagram(bytes, length); }

const ClientEnv kClientEnv = {ReportClockNow, SendForReport, LoadClientConfig};

}  // namespace

extern "C" {

int VXIdent_Init(void) {
  LoadClientConfig();
  OpenClientSocket();
  GetVXException()->Init();  // installs the crash handler; its result does not matter here
  return 0;
}

int VXIDENT_STDCALL VXIdent_Set_Counter(int key, int value, int mode) {
  LoadClientConfig();
  LockHolder hold;
  return ReportCounter(g_client, kClientEnv, key, value, mode);
}

int VXIDENT_STDCALL VXIdent_Set_Int(int key, int value, int mode) {
  LoadClientConfig();
  LockHolder hold;
  return ReportInt(g_client, kClientEnv, key, value, mode);
}

// Texts, blobs and the final flush take no lock: the crash worker sends its package through
// VXIdent_Set_Bin while a frozen thread may hold ClientLock.
int VXIDENT_STDCALL VXIdent_Set_Str(int key, const char* text) { return ReportText(g_client, kClientEnv, key, text); }

int VXIDENT_STDCALL VXIdent_Set_Bin(int key, const void* data, int length) {
  return ReportBlob(g_client, kClientEnv, key, data, length);
}

int VXIdent_Fin(void) { return ReportFin(g_client, kClientEnv); }

}  // extern "C"
