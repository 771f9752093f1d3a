// The UDP transport: one socket, opened once and never closed, no reply ever read.
#include "client/transport_win.h"

#include <winsock2.h>
#include <windows.h>

#include "client/client_state_win.h"
#include "client/datagram.h"
#include "client/run_once_win.h"
#include "client/send_echo.h"

namespace {

constexpr LONG kSocketClosed = 0;
constexpr LONG kSocketOpening = 1;
constexpr LONG kSocketReady = 2;

OnceFlag g_winsock_once;
volatile LONG g_socket_state = kSocketClosed;
SOCKET g_socket = INVALID_SOCKET;
sockaddr_in g_destination;
bool g_has_destination = false;
SOCKET g_crash_socket = INVALID_SOCKET;  // see PrepareCrashSocket

// The library never cleans up, so Winsock is started once per process rather than on every send.
void StartWinsockOnce() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) == 0 && data.wVersion != MAKEWORD(2, 2)) WSACleanup();
}

// An empty or unparsable host would make inet_addr answer INADDR_NONE, which is the broadcast
// address 255.255.255.255: the client must never broadcast, so such a server is no destination.
void FillDestination() {
  ZeroMemory(&g_destination, sizeof g_destination);
  g_destination.sin_family = AF_INET;
  g_destination.sin_port = htons(u_short(g_client_config.chosen_port & 0xFFFF));
  g_destination.sin_addr.s_addr = inet_addr(g_client_config.chosen_host);
  g_has_destination = g_client_config.chosen_host[0] != 0 && g_destination.sin_addr.s_addr != INADDR_NONE;
}

// Every datagram but a blob echoes in fewer characters than this, so its echo still leaves in one
// write. A blob's echo (214 KiB for the largest) leaves in pieces of this size rather than being
// formatted whole on the caller's stack, which may be a game thread's small one.
constexpr size_t kEchoPieceSize = 2048;
static_assert(SendEchoSize(kHeaderSize + kDataRecordHeaderSize + kMaxTextLength) <= kEchoPieceSize,
              "a text's echo is one piece");

// Straight to the standard-output handle: the CRT's stdio lock may be held by a thread the crash
// handler has frozen.
void WriteEchoPiece(void* out, const char* text, size_t size) {
  DWORD written;
  WriteFile(static_cast<HANDLE>(out), text, DWORD(size), &written, nullptr);
}

void EchoDatagram(const uint8_t* bytes, int length, int last_result, int failed_tries) {
  // A game without a console has nowhere to echo to: then there is nothing to format either.
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  char piece[kEchoPieceSize];
  WriteSendEcho(bytes, size_t(length), last_result, failed_tries, piece, sizeof piece, WriteEchoPiece, out);
}

int SendOn(SOCKET s, const uint8_t* bytes, int length) {
  if (s == INVALID_SOCKET || s == 0 || !g_has_destination) return 0;
  const int attempts = int(g_client_config.send_attempts);
  int result = 0;
  int failed = 0;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    result = sendto(s, reinterpret_cast<const char*>(bytes), length, 0,
                    reinterpret_cast<const sockaddr*>(&g_destination), sizeof g_destination);
    if (result == length) break;
    ++failed;
  }
  EchoDatagram(bytes, length, result, failed);
  return result;
}

}  // namespace

int OpenClientSocket() {
  RunOnce(g_winsock_once, StartWinsockOnce);
  if (g_socket_state == kSocketReady) return 0;
  // A thread that finds another one opening the socket does not wait for it: that thread may be
  // frozen by the crash handler. Its datagram is dropped like any other failed send.
  if (InterlockedCompareExchange(&g_socket_state, kSocketOpening, kSocketClosed) != kSocketClosed) {
    return g_socket_state == kSocketReady ? 0 : 1;
  }
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) {
    InterlockedExchange(&g_socket_state, kSocketClosed);
    return 1;
  }
  FillDestination();
  g_socket = s;
  InterlockedExchange(&g_socket_state, kSocketReady);
  return 0;
}

int SendDatagram(const uint8_t* bytes, int length) {
  if (OpenClientSocket() != 0) return 0;
  return SendOn(g_socket, bytes, length);
}

int SendCrashDatagram(const uint8_t* bytes, int length) {
  if (OpenClientSocket() != 0) return 0;
  return SendOn(g_crash_socket != INVALID_SOCKET ? g_crash_socket : g_socket, bytes, length);
}

// The crash report's own socket. A thread that the crash handler freezes half-way through sendto
// can hold up every later send on the socket it used (Wine queues them behind its unfinished one),
// so once the process has crashed the remaining sends go out on a socket no frozen thread touched.

void PrepareCrashSocket() {
  if (OpenClientSocket() != 0 || g_crash_socket != INVALID_SOCKET) return;
  g_crash_socket = socket(AF_INET, SOCK_DGRAM, 0);
}

void UseCrashSocket() {
  if (g_crash_socket != INVALID_SOCKET) g_socket = g_crash_socket;
}
