#include "pages/hardware_profile_fields.h"
#include "pages/html.h"
#include "pages/pages.h"

namespace collector {
namespace {

struct TrustWords {
  FrameTrust trust;
  const char* words;
};
constexpr TrustWords kTrustWords[] = {
    {FrameTrust::kContext, "exception context"}, {FrameTrust::kUnwindInfo, "unwind tables"},
    {FrameTrust::kFramePointer, "frame pointer"}, {FrameTrust::kScan, "stack scan"},
    {FrameTrust::kSummary, "crash summary"},
};

const char* HowFound(FrameTrust trust) {
  for (const TrustWords& t : kTrustWords) {
    if (t.trust == trust) return t.words;
  }
  return "";
}

std::string Row(const std::string& label, const std::string& html) {
  return "<tr><th>" + Html(label) + "</th><td>" + html + "</td></tr>\n";
}

std::string ModuleName(const CrashAnalysis& a, int index) {
  if (index < 0 || static_cast<size_t>(index) >= a.modules.size()) return "";
  return a.modules[static_cast<size_t>(index)].name;
}

std::string FramesTable(const CrashAnalysis& a, const AnalyzedThread& thread, const std::string& id) {
  if (thread.frames.empty()) return "<p class=\"muted\">No frames were found for this thread.</p>";
  std::string out = "<table class=\"stack\" id=\"" + id +
                    "\"><tr><th>#</th><th>Function</th><th>Source</th><th>Module + offset</th><th>Address</th>"
                    "<th>Found by</th></tr>\n";
  for (size_t i = 0; i < thread.frames.size(); ++i) {
    const AnalyzedFrame& f = thread.frames[i];
    std::string module = ModuleName(a, f.module);
    std::string where = module.empty() ? "<span class=\"muted\">outside every module</span>"
                                       : Html(module) + " + " + HexAddress(f.module_offset);
    std::string function, source;
    // Inlined functions first, innermost at the top, as the symbolizer reports them.
    for (size_t d = 0; d < f.symbols.size(); ++d) {
      const SourceLocation& s = f.symbols[d];
      if (d > 0) {
        function += "<br><span class=\"muted\">inlined into</span> ";
        source += "<br>";
      }
      function += Html(s.function.empty() ? "??" : s.function);
      source += s.file.empty() ? "" : Html(s.file) + ":" + std::to_string(s.line);
    }
    if (f.symbols.empty()) function = "<span class=\"muted\">no symbols</span>";
    out += "<tr class=\"frame\"><td>" + std::to_string(i) + "</td><td class=\"function mono\">" + function +
           "</td><td class=\"source mono\">" + source + "</td><td class=\"mono\">" + where + "</td><td class=\"mono\">" +
           HexAddress(f.instruction) + "</td><td class=\"trust\">" + HowFound(f.trust) + "</td></tr>\n";
  }
  return out + "</table>";
}

std::string TextBlock(const char* id, const char* label, const std::optional<std::string>& text) {
  if (!text) return "<h3>" + std::string(label) + "</h3><p class=\"muted\">not in the dump</p>";
  if (text->empty()) return "<h3>" + std::string(label) + "</h3><p class=\"muted\">left blank</p>";
  return "<h3>" + std::string(label) + "</h3><pre class=\"text\" id=\"" + id + "\">" + ClientHtml(*text) + "</pre>";
}

std::string Summary(const CrashRecord& r) {
  const StoredCrash& c = r.crash;
  const CrashAnalysis& a = c.analysis;
  std::string out = "<table id=\"summary\">\n";
  if (a.has_exception) {
    std::string name = a.exception_name.empty() ? "unknown exception" : a.exception_name;
    out += Row("Exception", "<span id=\"exception\">" + Html(name) + "</span> (" + Hex32(a.exception_code) + ")");
    out += Row("Address", "<span class=\"mono\" id=\"exception-address\">" + HexAddress(a.exception_address) + "</span>");
    out += Row("Crashed thread", std::to_string(a.crashed_thread_id));
  } else {
    out += Row("Exception", "<span class=\"muted\">the dump has no exception record</span>");
  }
  out += Row("Signature", "<a class=\"mono\" href=\"/group/" + std::to_string(r.group_id) + "\">" +
                              Html(a.signature.empty() ? "(none)" : a.signature) + "</a>");
  if (!a.cpu.empty()) out += Row("Processor", Html(a.cpu));
  out += Row("Received", UtcTime(c.received) + " (" + Html(c.source) +
                             (c.sender ? ", from " + Ipv4(c.sender) : std::string()) + ")");
  out += Row("Machine", c.machine_id.empty() ? "<span class=\"muted\">unknown</span>"
                                             : "<span class=\"mono\" id=\"machine\">" + Html(c.machine_id) + "</span>");
  if (c.identities) {
    out += Row("Identities", "<span id=\"identities\">account (identity 1) " + std::to_string(c.identities->identity1) +
                                 ", product (identity 3) " + std::to_string(c.identities->identity3) +
                                 ", build (identity 4) " + std::to_string(c.identities->identity4) + "</span>");
  } else {
    out += Row("Identities", "<span class=\"muted\">unknown (the file was mailed in)</span>");
  }
  if (c.source == "summary") {
    out += Row("Package", "<span class=\"note\" id=\"summary-only\">not arrived: only the crash summary did; the stack "
                          "below is the one the game sent in it</span>");
  } else {
    out += Row("Package", std::to_string(c.package_bytes) + " bytes" + (c.truncated ? ", cut in transit" : "") +
                              "; minidump " + std::to_string(c.minidump_bytes) + " bytes" +
                              (c.minidump_valid ? "" : ", damaged or incomplete"));
  }
  if (c.summary) {
    const SummaryRecord& s = *c.summary;
    std::string text = "<span id=\"crash-summary\">arrived " + UtcTime(s.received) + ", wire id " +
                       std::to_string(s.wire_id) + ", " + Html(s.architecture) + ", thread " +
                       std::to_string(s.thread_id) + (s.frames_cut ? ", more frames than its datagram held" : "") +
                       (c.source == "summary" ? "" : "; the package that followed gives the analysis on this page") +
                       "</span>";
    out += Row("Crash summary", text);
    out += Row("Last message", "<span class=\"mono\" id=\"summary-message\">" + ClientHtml(s.message) + "</span>" +
                                   (s.message_cut ? " <span class=\"muted\">(cut)</span>" : ""));
  } else if (c.wire_id) {
    out += Row("Wire id", std::to_string(*c.wire_id) + " <span class=\"muted\">(no crash summary arrived)</span>");
  }
  std::string id = std::to_string(r.id);
  if (!c.dir.empty()) {
    std::string files = "<a href=\"/crash/" + id + "/minidump.dmp\">minidump.dmp</a>";
    if (c.source != "ingest" || c.package_bytes > 0) files += " <a href=\"/crash/" + id + "/package.vgz\">package.vgz</a>";
    out += Row("Files", files + " <span class=\"muted mono\">" + Html(c.dir) + "</span>");
  }
  if (!c.error.empty()) out += Row("Problem", "<span class=\"note\">" + ClientHtml(c.error) + "</span>");
  for (const std::string& cut : c.cut) out += Row("Cut", "<span class=\"note\">" + Html(cut) + "</span>");
  for (const std::string& note : a.notes) out += Row("Analysis", "<span class=\"note\">" + ClientHtml(note) + "</span>");
  return out + "</table>";
}

std::string ProfileTable(const std::optional<std::string>& profile) {
  if (!profile) return "<p class=\"muted\">This machine has not sent its hardware profile.</p>";
  std::string out = "<table id=\"hardware\">";
  for (const ProfileField& f : HardwareProfileFields(*profile)) out += Row(f.label, ClientHtml(f.value));
  return out + "</table>";
}

std::string ModulesTable(const CrashAnalysis& a) {
  if (a.modules.empty()) return "<p class=\"muted\">The dump lists no modules.</p>";
  std::string out = "<table id=\"modules\"><tr><th>Module</th><th>Base</th><th>Size</th><th>Time stamp</th>"
                    "<th>Debug file / id</th><th>Kind</th><th>Symbols</th></tr>\n";
  for (const AnalyzedModule& m : a.modules) {
    std::string kind = m.ours ? "VXIdent" : m.system ? "system" : "";
    out += "<tr><td class=\"mono\" title=\"" + Html(m.path) + "\">" + Html(m.name) + "</td><td class=\"mono\">" +
           HexAddress(m.base) + "</td><td>" + std::to_string(m.size) + "</td><td class=\"mono\">" +
           Hex32(m.time_stamp) + "</td><td class=\"mono\">" + Html(m.debug_file) + " " + Html(m.debug_id) +
           "</td><td>" + kind + "</td><td>" + (m.symbols_found ? "found" : "") + "</td></tr>\n";
  }
  return out + "</table>";
}

}  // namespace

std::string CrashPage(const CrashRecord& r, const std::optional<std::string>& hardware_profile) {
  const StoredCrash& c = r.crash;
  const CrashAnalysis& a = c.analysis;
  std::string body = Summary(r);
  body += "<h2>Stack of the crashed thread</h2>\n";
  const AnalyzedThread* crashed = nullptr;
  for (const AnalyzedThread& t : a.threads) {
    if (t.crashed) crashed = &t;
  }
  body += crashed ? FramesTable(a, *crashed, "crashed-stack") : "<p class=\"muted\">No thread is marked as crashed.</p>";
  body += "<h2>Screenshot</h2>\n";
  if (!c.screenshot_file.empty()) {
    body += "<img class=\"shot\" id=\"screenshot\" alt=\"the screen at the crash\" src=\"/crash/" + std::to_string(r.id) +
            "/screenshot.jpg\" width=\"" + std::to_string(c.screenshot_width) + "\" height=\"" +
            std::to_string(c.screenshot_height) + "\">";
  } else {
    body += "<p class=\"muted\">No screenshot arrived.</p>";
  }
  body += "<h2>What the player wrote</h2>\n";
  body += TextBlock("user-info1", "Text 1", c.user_info1);
  body += TextBlock("user-info2", "Text 2", c.user_info2);
  body += TextBlock("user-info3", "Text 3", c.user_info3);
  body += "<h2>Extra information</h2>\n" + TextBlock("extra-info", "The game's last message", c.extra_info);
  body += "<h2>Hardware profile</h2>\n" + ProfileTable(hardware_profile);
  body += "<h2>Other threads</h2>\n";
  size_t others = 0;
  for (size_t i = 0; i < a.threads.size(); ++i) {
    const AnalyzedThread& t = a.threads[i];
    if (t.crashed) continue;
    ++others;
    body += "<h3>Thread " + std::to_string(t.thread_id) + "</h3>" + FramesTable(a, t, "thread-" + std::to_string(i));
  }
  if (others == 0) body += "<p class=\"muted\">None.</p>";
  body += "<h2>Modules</h2>\n" + ModulesTable(a);
  return PageHtml("Crash " + std::to_string(r.id), body);
}

}  // namespace collector
