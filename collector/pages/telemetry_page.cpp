#include <algorithm>

#include "pages/html.h"
#include "pages/pages.h"

namespace collector {
namespace {

constexpr int kBarWidth = 10;
constexpr int kChartHeight = 40;

// One bar per bucket, the tallest bucket the chart's full height; each bar's title gives its count.
std::string Bars(const KeyActivity& activity, double first_bucket, double bucket_seconds, int buckets) {
  std::vector<int64_t> counts(static_cast<size_t>(buckets), 0);
  for (const auto& bucket : activity.buckets) {
    long index = static_cast<long>((bucket.first - first_bucket) / bucket_seconds + 0.5);
    if (index >= 0 && index < buckets) counts[static_cast<size_t>(index)] = bucket.second;
  }
  int64_t most = std::max<int64_t>(1, *std::max_element(counts.begin(), counts.end()));
  std::string svg = "<svg class=\"bars\" width=\"" + std::to_string(buckets * kBarWidth) + "\" height=\"" +
                    std::to_string(kChartHeight) + "\">";
  for (int i = 0; i < buckets; ++i) {
    int64_t count = counts[static_cast<size_t>(i)];
    int height = static_cast<int>(count * kChartHeight / most);
    if (count > 0 && height == 0) height = 1;
    svg += "<rect x=\"" + std::to_string(i * kBarWidth) + "\" y=\"" + std::to_string(kChartHeight - height) +
           "\" width=\"" + std::to_string(kBarWidth - 2) + "\" height=\"" + std::to_string(height) + "\"><title>" +
           UtcTime(first_bucket + i * bucket_seconds) + ": " + std::to_string(count) + "</title></rect>";
  }
  return svg + "</svg>";
}

std::string LatestCell(const LatestValue& v) {
  if (v.value) return std::to_string(*v.value);
  if (v.kind == "text") return "<span class=\"mono\">" + ClientHtml(v.text.substr(0, 160)) + "</span>";
  return std::to_string(v.blob_length) + " bytes";
}

}  // namespace

std::string TelemetryPage(const std::vector<KeyActivity>& activity, const std::vector<LatestValue>& latest,
                          double bucket_seconds, int buckets, double now, int64_t invalid_datagrams) {
  double first_bucket = (static_cast<int64_t>(now / bucket_seconds) - buckets + 1) * bucket_seconds;
  std::string body = "<h2>Reports per key, per " + std::to_string(static_cast<int>(bucket_seconds / 60)) +
                     " minutes since " + UtcTime(first_bucket) + "</h2>\n";
  if (activity.empty()) {
    body += "<p class=\"muted\">No report in that time.</p>";
  } else {
    body += "<table id=\"activity\"><tr><th>Key</th><th>Reports</th><th>Over time</th></tr>\n";
    for (const KeyActivity& a : activity) {
      body += "<tr><td class=\"key\">" + std::to_string(a.key) + "</td><td class=\"total\">" + std::to_string(a.total) +
              "</td><td>" + Bars(a, first_bucket, bucket_seconds, buckets) + "</td></tr>\n";
    }
    body += "</table>";
  }
  body += "<h2>Latest value of each key</h2>\n";
  if (latest.empty()) {
    body += "<p class=\"muted\">No report has arrived yet.</p>";
  } else {
    body += "<table id=\"latest\"><tr><th>Key</th><th>Kind</th><th>Latest value</th><th>From machine</th>"
            "<th>At</th><th>Reports in all</th></tr>\n";
    for (const LatestValue& v : latest) {
      body += "<tr><td class=\"key\">" + std::to_string(v.key) + "</td><td>" + Html(v.kind) + "</td><td class=\"value\">" +
              LatestCell(v) + "</td><td class=\"mono\">" + Html(v.machine_id) + "</td><td>" + UtcTime(v.received) +
              "</td><td>" + std::to_string(v.reports) + "</td></tr>\n";
    }
    body += "</table>";
  }
  body += "<p class=\"muted\">" + std::to_string(invalid_datagrams) + " datagrams were refused as invalid.</p>";
  return PageHtml("Telemetry", body);
}

}  // namespace collector
