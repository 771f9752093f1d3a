#include "pages/html.h"
#include "pages/pages.h"

namespace collector {

namespace {

// "product 20 build 300" per distinct pair; identity 3 names the product, identity 4 the build.
std::string BuildsHtml(const std::vector<Identities>& builds) {
  if (builds.empty()) return "<span class=\"muted\">unknown</span>";
  std::string out;
  for (const Identities& b : builds) {
    if (!out.empty()) out += "<br>";
    out += "product " + std::to_string(b.identity3) + " build " + std::to_string(b.identity4);
  }
  return out;
}

}  // namespace

std::string IndexPage(const std::vector<CrashGroupRow>& groups) {
  std::string body;
  if (groups.empty()) {
    body = "<p class=\"muted\">No crash has arrived yet.</p>";
    return PageHtml("Crash groups", body);
  }
  body += "<table id=\"groups\"><tr><th>Signature</th><th>Crashes</th><th>Machines</th><th>First seen</th>"
          "<th>Last seen</th><th>Product / build</th><th>Latest</th></tr>\n";
  for (const CrashGroupRow& g : groups) {
    std::string id = std::to_string(g.id);
    body += "<tr class=\"group\"><td class=\"signature mono\"><a href=\"/group/" + id + "\">" + Html(g.signature) +
            "</a></td>";
    body += "<td class=\"count\">" + std::to_string(g.crashes) + "</td><td class=\"machines\">" +
            std::to_string(g.machines) + "</td>";
    body += "<td>" + UtcTime(g.first_seen) + "</td><td>" + UtcTime(g.last_seen) + "</td>";
    body += "<td class=\"builds\">" + BuildsHtml(g.builds) + "</td>";
    body += "<td><a href=\"/crash/" + std::to_string(g.latest_crash) + "\">crash " + std::to_string(g.latest_crash) +
            "</a></td></tr>\n";
  }
  body += "</table>";
  return PageHtml("Crash groups", body);
}

std::string GroupPage(const CrashGroupRow& g, const std::vector<CrashListRow>& crashes) {
  std::string body = "<p class=\"signature mono\">" + Html(g.signature) + "</p>";
  body += "<p>" + std::to_string(g.crashes) + " crashes on " + std::to_string(g.machines) + " machines, from " +
          UtcTime(g.first_seen) + " to " + UtcTime(g.last_seen) + ".</p>";
  body += "<table id=\"crashes\"><tr><th>Crash</th><th>Received</th><th>Machine</th><th>Product / build</th>"
          "<th>Exception</th><th>From</th></tr>\n";
  for (const CrashListRow& c : crashes) {
    std::string id = std::to_string(c.id);
    body += "<tr><td><a href=\"/crash/" + id + "\">crash " + id + "</a></td><td>" + UtcTime(c.received) + "</td>";
    body += "<td class=\"mono\">" + (c.machine_id.empty() ? "<span class=\"muted\">unknown</span>" : Html(c.machine_id)) +
            "</td>";
    body += "<td>" + (c.identities ? BuildsHtml({*c.identities}) : BuildsHtml({})) + "</td>";
    body += "<td>" + Html(c.exception_name.empty() ? Hex32(c.exception_code) : c.exception_name) + "</td>";
    body += "<td>" + Html(c.source) + "</td></tr>\n";
  }
  body += "</table>";
  return PageHtml("Crash group " + std::to_string(g.id), body);
}

std::string NotFoundPage(const std::string& what) {
  return PageHtml("Not found", "<p>" + Html(what) + " is not in the store.</p>");
}

}  // namespace collector
