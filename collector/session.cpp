#include "session.h"

#include <cstring>

#include "datagram_decoder.h"
#include "datagram_json.h"
#include "output_files.h"

namespace collector {
namespace {

StoredDatagram ToStored(const Datagram& d, uint32_t size, uint32_t sender, double now) {
  StoredDatagram s;
  s.received = now;
  s.sender = sender;
  s.size = size;
  s.kind = d.kind;
  std::memcpy(s.machine_id, d.machine_id, sizeof s.machine_id);
  s.identity4 = d.identity4;
  s.identity3 = d.identity3;
  s.identity1 = d.identity1;
  s.numbers = d.numbers;
  s.data_key = d.data_key;
  if (d.kind == KIND_TEXT) s.text.assign(reinterpret_cast<const char*>(d.data.data), d.data.size);
  if (d.kind == KIND_BLOB) {
    s.blob_length = static_cast<uint32_t>(d.data.size);
    s.blob_fnv1a64 = Fnv1a64(d.data);
  }
  return s;
}

}  // namespace

Session::Session(std::string out_dir, bool raw, const Limits& limits, DiskBudget* budget, SessionOutputs outputs)
    : out_dir_(std::move(out_dir)), raw_(raw), budget_(budget), outputs_(std::move(outputs)), rate_(limits.sender) {}

void Session::SaveBlob(const Datagram& d, uint32_t sender, double now, BlobFile* blob) {
  if (!rate_.Take(sender, SenderRate::kSavedBytes, static_cast<double>(d.data.size), now)) {
    blob->error = "not saved: the sender is over its rate of saved bytes";
  } else if (budget_ && !budget_->Charge(d.data.size)) {
    blob->error = "not saved: the disk budget is spent";
  } else {
    blob->path = CreateNumberedFile(out_dir_, "blob-", ".bin", d.data, &next_blob_, &blob->error);
  }
}

void Session::HandCrashOver(const Datagram& d, uint32_t sender, double now) {
  if (!rate_.Take(sender, SenderRate::kCrashPackages, 1, now)) {
    outputs_.emit(RefusedCrashReportJson(d.data.size, "the sender is over its rate of crash packages"));
    return;
  }
  CrashJob job;
  job.bytes.assign(d.data.data, d.data.data + d.data.size);
  job.meta.received = now;
  job.meta.source = "network";
  job.meta.sender = sender;
  job.meta.machine_id = d.machine_id;
  job.meta.identities = Identities{d.identity4, d.identity3, d.identity1};
  if (!outputs_.crash || !outputs_.crash(std::move(job))) {
    outputs_.emit(RefusedCrashReportJson(d.data.size, "the crash worker's queue is full"));
  }
}

void Session::Handle(Bytes datagram, uint32_t sender, double now) {
  DecodeResult decoded = DecodeDatagram(datagram);
  if (decoded.reason) {
    outputs_.emit(InvalidJson(decoded.reason, ++invalid_count_, datagram, raw_));
    if (outputs_.store) {
      StoredDatagram s;
      s.received = now;
      s.sender = sender;
      s.size = static_cast<uint32_t>(datagram.size);
      s.invalid_reason = decoded.reason;
      outputs_.store(std::move(s));
    }
    return;
  }
  const Datagram& d = decoded.datagram;
  BlobFile blob;
  if (d.kind == KIND_BLOB) SaveBlob(d, sender, now, &blob);
  outputs_.emit(DatagramJson(d, datagram, raw_, blob));
  if (outputs_.store) {
    StoredDatagram s = ToStored(d, static_cast<uint32_t>(datagram.size), sender, now);
    s.blob_file = blob.path;
    outputs_.store(std::move(s));
  }
  if (d.kind == KIND_BLOB && WireKeyLow(d.data_key) == KEY_DUMP_PACKAGE) HandCrashOver(d, sender, now);
}

}  // namespace collector
