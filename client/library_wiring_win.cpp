// Where the library's subsystems meet: the module object is constructed with the crash capture
// and the Windows platform as its wiring, and the crash capture sends through the client. Every
// table here is a constant, in place before any static constructor runs; the module's own
// construction, which reads the settings files, is the first one that needs them.
#include "client/library_wiring_win.h"

#include "VXIdent.h"
#include "client/client_core.h"
#include "client/client_state_win.h"
#include "client/transport_win.h"
#include "crashcapture/crash_capture.h"
#include "crashmodule/module_platform_win.h"
#include "crashmodule/vx_exception.h"

namespace {

int SendDumpPackage(const void* data, int length) {
  return VXIdent_Set_Bin(KEY_DUMP_PACKAGE, data, length);
}

// Read without ClientLock: a frozen thread may hold it. The identities are single words the host
// set long before, so a read cannot tear them.
bool CrashIdentity(DatagramIdentity* who) {
  *who = {g_client.machine_id, g_client.identity1, g_client.identity3, g_client.identity4};
  return DatagramIdentityComplete(*who);
}

CrashWireSettings CrashSettings() {
  const ClientConfig& config = g_client_config;
  return {config.crash_summary, config.crash_package_whole, config.crash_package_rate, config.crash_package_limit};
}

constexpr CrashTransport kClientTransport = {SendDumpPackage, PrepareCrashSocket, UseCrashSocket,
                                             SendCrashDatagram, CrashIdentity, CrashSettings};

void InstallFilter(VXException* module) { InstallCrashCapture(module, &kClientTransport); }

bool WriteDump(VXException* module, uint32_t kind, _EXCEPTION_POINTERS* exception) {
  return WriteDumpPackage(module, kind, exception, &kClientTransport);
}

constexpr CrashCaptureOps kCrashCapture = {InstallFilter, WriteDump, ShowUserInfoDialogFor};

constexpr ModuleWiring kLibraryWiring = {&kCrashCapture, &kWindowsModulePlatform};

// Constructed by the library's static initialisation when the host loads it, which reads the
// settings files from the current directory of that moment; destroyed by the runtime at exit.
VXException g_module(kLibraryWiring);

}  // namespace

VXException* GetVXException() { return &g_module; }
