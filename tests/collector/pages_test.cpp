// The pages as text: what the network sent is escaped and decoded, the hardware profile is taken
// apart, and a crash page names each frame as the analysis found it. The browser test
// (test_collector_pages.py) looks at the same pages rendered.
#include <gtest/gtest.h>

#include "hand_made_crash.h"
#include "pages/hardware_profile_fields.h"
#include "pages/html.h"
#include "pages/pages.h"

using namespace collector;
using namespace collector_test;

namespace {

bool Has(const std::string& page, const std::string& part) { return page.find(part) != std::string::npos; }

TEST(CollectorPages, ClientBytesAreDecodedAndEscaped) {
  struct Case {
    std::string bytes;
    std::string html;
  };
  const Case cases[] = {
      {kGbkText, "\xE6\xB8\xB8\xE6\x88\x8F\xE5\xB4\xA9\xE6\xBA\x83 at level 3"},  // 游戏崩溃 in UTF-8
      {"<b a=\"1\" b='2'>&amp;", "&lt;b a=&quot;1&quot; b=&#39;2&#39;&gt;&amp;amp;"},
      {std::string("a\0b\x1B", 4), "a\\x00b\\x1B"},           // controls shown, not passed on
      {"line\r\nnext\ttab", "line\r\nnext\ttab"},             // but line breaks and tabs kept
      {"\xFF\xD3", "\\xFF\\xD3"},                             // not GBK: each byte shown
      {"\xD3<", "\\xD3&lt;"},                                 // a lead byte without its pair
  };
  for (const Case& c : cases) EXPECT_EQ(ClientHtml(c.bytes), c.html) << c.bytes;
}

TEST(CollectorPages, HardwareProfileFields) {
  std::vector<ProfileField> fields = HardwareProfileFields("id=0123456789ABCDEF&cname=Intel(R) x=y&&mem1=1024&odd&dx=");
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[0].label, "Machine identifier");
  EXPECT_EQ(fields[1].label, "Processor");
  EXPECT_EQ(fields[1].value, "Intel(R) x=y");  // split at the first '=' only
  EXPECT_EQ(fields[2].label, "Memory (MiB)");
  EXPECT_EQ(fields[3].name, "");
  EXPECT_EQ(fields[3].value, "odd");
  EXPECT_EQ(fields[4].value, "");
  EXPECT_TRUE(HardwareProfileFields("").empty());
}

TEST(CollectorPages, CrashPageShowsTheStackAndEscapesThePlayersTexts) {
  CrashRecord record;
  record.id = 7;
  record.group_id = 3;
  record.crash = HandMadeCrash("0123456789ABCDEF", 1700000000, "DrawScene(Scene const&) | RunFrame<Game>(int)");
  record.crash.screenshot_file = "/nowhere/report-1/screenshot.jpg";
  record.crash.screenshot_width = 37;
  std::string page = CrashPage(record, std::string("id=0123456789ABCDEF&cname=<i>CPU</i>&dx=9"));
  EXPECT_TRUE(Has(page, "<span id=\"exception\">EXCEPTION_ACCESS_VIOLATION</span> (0xC0000005)"));
  EXPECT_TRUE(Has(page, "0x0000000140001234"));
  // Innermost first, each frame with its function, source line, module + offset and how it was found.
  EXPECT_TRUE(Has(page, "Vec3::Length<br><span class=\"muted\">inlined into</span> DrawScene(Scene const&amp;)"));
  EXPECT_TRUE(Has(page, "src/vec3.h:12<br>src/render.cpp:88"));
  EXPECT_TRUE(Has(page, "RunFrame&lt;Game&gt;(int)"));
  EXPECT_TRUE(Has(page, "demo_host.exe + 0x00002000"));
  EXPECT_TRUE(Has(page, "<td class=\"trust\">unwind tables</td>"));
  EXPECT_TRUE(Has(page, "<td class=\"trust\">frame pointer</td>"));
  EXPECT_TRUE(Has(page, "outside every module"));
  size_t stack = page.find("id=\"crashed-stack\"");
  EXPECT_LT(page.find("Vec3::Length", stack), page.find("RunFrame", stack));
  EXPECT_LT(page.find("RunFrame", stack), page.find("WinMain", stack));
  EXPECT_TRUE(Has(page, "<h3>Thread 240</h3>"));
  EXPECT_TRUE(Has(page, "NtWaitForSingleObject"));
  EXPECT_TRUE(Has(page, "src=\"/crash/7/screenshot.jpg\""));
  EXPECT_TRUE(Has(page, "account (identity 1) 4242, product (identity 3) 20, build (identity 4) 300"));
  EXPECT_TRUE(Has(page, "<th>Processor</th><td>&lt;i&gt;CPU&lt;/i&gt;</td>"));
  EXPECT_TRUE(Has(page, "\xE6\xB8\xB8\xE6\x88\x8F\xE5\xB4\xA9\xE6\xBA\x83"));
  EXPECT_TRUE(Has(page, "left blank"));
  EXPECT_FALSE(Has(page, "<script>"));
  EXPECT_FALSE(Has(page, "<b>bold?</b>"));
  EXPECT_TRUE(Has(page, "&lt;script&gt;document.title=&#39;pwned&#39;&lt;/script&gt;"));
}

TEST(CollectorPages, IndexAndTelemetry) {
  CrashGroupRow group;
  group.id = 3;
  group.signature = "<img src=x onerror=alert(1)> | Foo";
  group.crashes = 12;
  group.machines = 5;
  group.latest_crash = 40;
  group.builds = {Identities{300, 20, 1}, Identities{301, 20, 1}};
  std::string index = IndexPage({group});
  EXPECT_TRUE(Has(index, "<a href=\"/group/3\">&lt;img src=x onerror=alert(1)&gt; | Foo</a>"));
  EXPECT_TRUE(Has(index, "product 20 build 300<br>product 20 build 301"));
  EXPECT_TRUE(Has(index, "<a href=\"/crash/40\">"));
  EXPECT_TRUE(Has(IndexPage({}), "No crash has arrived yet."));

  KeyActivity activity{5, {{3600, 10}, {7200, 5}}, 15};
  LatestValue text;
  text.key = 18;
  text.kind = "text";
  text.text = "<b>" + kGbkText;
  std::string telemetry = TelemetryPage({activity}, {text}, 3600, 3, 7200, 2);
  // Buckets 0, 3600 and 7200: the tallest bar is the full height, the next half of it.
  EXPECT_TRUE(Has(telemetry, "<rect x=\"0\" y=\"40\" width=\"8\" height=\"0\">"));
  EXPECT_TRUE(Has(telemetry, "<rect x=\"10\" y=\"0\" width=\"8\" height=\"40\">"));
  EXPECT_TRUE(Has(telemetry, "<rect x=\"20\" y=\"20\" width=\"8\" height=\"20\">"));
  EXPECT_TRUE(Has(telemetry, "&lt;b&gt;\xE6\xB8\xB8"));
  EXPECT_TRUE(Has(telemetry, "2 datagrams were refused as invalid."));
}

}  // namespace
