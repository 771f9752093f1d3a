#include "session.h"

#include "crash_report.h"
#include "datagram_decoder.h"
#include "datagram_json.h"
#include "output_files.h"

namespace collector {

Session::Session(std::string out_dir, bool raw, std::function<void(const std::string&)> emit)
    : out_dir_(std::move(out_dir)), raw_(raw), emit_(std::move(emit)) {}

void Session::Handle(Bytes datagram) {
  DecodeResult decoded = DecodeDatagram(datagram);
  if (decoded.reason) {
    emit_(InvalidJson(decoded.reason, ++invalid_count_, datagram, raw_));
    return;
  }
  const Datagram& d = decoded.datagram;
  BlobFile blob;
  if (d.kind == KIND_BLOB) blob.path = CreateNumberedFile(out_dir_, "blob-", ".bin", d.data, &next_blob_, &blob.error);
  emit_(DatagramJson(d, datagram, raw_, blob));
  if (d.kind == KIND_BLOB && WireKeyLow(d.data_key) == KEY_DUMP_PACKAGE) {
    emit_(SaveCrashReport(d.data, out_dir_, &next_report_));
  }
}

}  // namespace collector
