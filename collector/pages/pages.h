// The collector's pages, each built from what the store gives back. Pure: the server fetches, these
// render, so tests render hand-made rows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "store/store_records.h"

namespace collector {

std::string IndexPage(const std::vector<CrashGroupRow>& groups);
std::string GroupPage(const CrashGroupRow& group, const std::vector<CrashListRow>& crashes);
std::string CrashPage(const CrashRecord& record, const std::optional<std::string>& hardware_profile);
std::string TelemetryPage(const std::vector<KeyActivity>& activity, const std::vector<LatestValue>& latest,
                          double bucket_seconds, int buckets, double now, int64_t invalid_datagrams);
std::string NotFoundPage(const std::string& what);

}  // namespace collector
