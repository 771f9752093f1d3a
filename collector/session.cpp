#include "session.h"

#include <cstring>

#include "datagram_decoder.h"
#include "datagram_json.h"
#include "output_files.h"

namespace collector {
namespace {

// The row of each record; numbers give one row per record.
template <typename Each>
void ForEachRow(const Datagram& d, uint32_t size, uint32_t sender, double now, const BlobFile& blob, Each each) {
  StoredReport r;
  r.received = now;
  r.sender = sender;
  r.size = size;
  r.kind = d.kind;
  std::memcpy(r.machine_id, d.machine_id, sizeof r.machine_id);
  r.identity4 = d.identity4;
  r.identity3 = d.identity3;
  r.identity1 = d.identity1;
  if (d.kind == KIND_NUMBERS) {
    for (const NumberRecord& record : d.numbers) {
      StoredReport row = r;
      row.wire_key = record.wire_key;
      row.value = record.value;
      each(std::move(row));
    }
    return;
  }
  r.wire_key = d.data_key;
  if (d.kind == KIND_TEXT) {
    r.text.assign(reinterpret_cast<const char*>(d.data.data), d.data.size);
  } else {
    r.blob_length = static_cast<uint32_t>(d.data.size);
    r.blob_fnv1a64 = Fnv1a64(d.data);
    r.blob_file = blob.path;
  }
  each(std::move(r));
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
  line_.clear();
  if (decoded.reason) {
    AppendInvalidJson(decoded.reason, ++invalid_count_, datagram, raw_, &line_);
    outputs_.emit(line_);
    if (outputs_.store) {
      StoredReport r;
      r.received = now;
      r.sender = sender;
      r.size = static_cast<uint32_t>(datagram.size);
      r.invalid_reason = decoded.reason;
      outputs_.store(std::move(r));
    }
    return;
  }
  const Datagram& d = decoded.datagram;
  BlobFile blob;
  if (d.kind == KIND_BLOB) SaveBlob(d, sender, now, &blob);
  AppendDatagramJson(d, datagram, raw_, blob, &line_);
  outputs_.emit(line_);
  if (outputs_.store) {
    ForEachRow(d, static_cast<uint32_t>(datagram.size), sender, now, blob,
               [this](StoredReport&& row) { outputs_.store(std::move(row)); });
  }
  if (d.kind == KIND_BLOB && WireKeyLow(d.data_key) == KEY_DUMP_PACKAGE) HandCrashOver(d, sender, now);
}

}  // namespace collector
