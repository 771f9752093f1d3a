// The two machine facts behind the identifier: the first network adapter's address, through
// NetBIOS, and the serial number of drive c:.
#include <windows.h>
#include <nb30.h>

#include <cstring>

#include "client/machine_id.h"

namespace {

constexpr WORD kAdapterStatusBufferSize = 600;  // ADAPTER_STATUS and room for 30 name entries

UCHAR RunNcb(NCB& ncb) { return Netbios(&ncb); }

// 6 bytes, all zero on any failure.
void ReadAdapterAddress(uint8_t* out6) {
  std::memset(out6, 0, 6);
  NCB ncb;
  ZeroMemory(&ncb, sizeof ncb);
  LANA_ENUM lanas;
  ZeroMemory(&lanas, sizeof lanas);
  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
  ncb.ncb_length = sizeof lanas;
  if (RunNcb(ncb) != 0) return;

  // Reset on each listed adapter until one answers; the reset reuses the enumeration's block.
  bool reset_ok = lanas.length == 0;
  for (UCHAR i = 0; i < lanas.length && !reset_ok; ++i) {
    ncb.ncb_command = NCBRESET;
    ncb.ncb_lana_num = lanas.lana[i];
    reset_ok = RunNcb(ncb) == 0;
  }
  if (!reset_ok) return;

  // The status is asked of the first listed adapter, whichever one the reset succeeded on.
  UCHAR status[kAdapterStatusBufferSize];
  ZeroMemory(status, sizeof status);
  ZeroMemory(&ncb, sizeof ncb);
  std::memset(ncb.ncb_callname, 0, sizeof ncb.ncb_callname);
  ncb.ncb_callname[0] = '*';
  ncb.ncb_lana_num = lanas.length > 0 ? lanas.lana[0] : 0;
  ncb.ncb_command = NCBASTAT;
  ncb.ncb_buffer = status;
  ncb.ncb_length = sizeof status;
  if ((RunNcb(ncb) & 0xFF) != 0) return;
  std::memcpy(out6, reinterpret_cast<ADAPTER_STATUS*>(status)->adapter_address, 6);
}

uint32_t ReadVolumeSerial() {
  char volume_name[128];
  char file_system[128];
  DWORD serial = 0;
  DWORD max_component = 0;
  DWORD flags = 0;
  if (!GetVolumeInformationA("c:\\", volume_name, sizeof volume_name, &serial, &max_component, &flags,
                             file_system, sizeof file_system)) {
    return 0;
  }
  return serial;
}

}  // namespace

void BuildMachineId(char* out) {
  if (!out) return;
  std::memcpy(out, "0000000000000000", kMachineIdSize);
  uint8_t adapter[6];
  ReadAdapterAddress(adapter);
  MixMachineId(adapter, ReadVolumeSerial(), out);
}
