// Prints what Windows itself says of this machine's adapters and drive c:, through other calls than
// the library's (GetAdaptersAddresses, GetVolumeInformationW), for the tests to recompute the
// machine identifier from.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <vector>

int main() {
  DWORD serial = 0;
  if (GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
    std::printf("serial %08lX\n", serial);
  } else {
    std::printf("serial none\n");
  }
  ULONG size = 64 * 1024;
  std::vector<unsigned char> buffer(size);
  auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  if (GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, first, &size) != NO_ERROR) return 0;
  for (IP_ADAPTER_ADDRESSES* a = first; a; a = a->Next) {
    if (a->PhysicalAddressLength != 6) continue;
    std::printf("adapter %s", a->OperStatus == IfOperStatusUp ? "up" : "down");
    for (int i = 0; i < 6; ++i) std::printf(" %02X", a->PhysicalAddress[i]);
    std::printf("\n");
  }
  return 0;
}
