#include "crashmodule/expand_template.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Expand(const char* source, const char* product, const char* series,
                   const char* version) {
  char out[1024];
  EXPECT_TRUE(ExpandTemplateText(source, product, series, version, out, sizeof out));
  return out;
}

struct ExpandCase {
  const char* source;
  const char* product;
  const char* series;
  const char* version;
  const char* expected;
};

const ExpandCase kCases[] = {
    {"%PRODUCT% %VERSION%", "Alpha", "", "1.2", "Alpha 1.2"},
    {"v%VERSION%/%VERSION%", "Alpha", "", "1.2", "v1.2/%VERSION%"},
    {"no placeholders here", "Alpha", "S", "1.2", "no placeholders here"},
    {"%SERIES%-%PRODUCT%-%SERIES%", "P", "S", "V", "S-P-%SERIES%"},
    // Matching is case-sensitive.
    {"%product% %Series%", "Alpha", "S", "V", "%product% %Series%"},
    // A placeholder that the product brings in is the one the series step finds first.
    {"%PRODUCT% then %SERIES%", "[%SERIES%]", "S", "V", "[S] then %SERIES%"},
    // The product step runs once: a product holding %PRODUCT% keeps it.
    {"%PRODUCT%", "x%PRODUCT%", "S", "V", "x%PRODUCT%"},
    // The version brought in by the series comes before the source's own.
    {"%SERIES% %VERSION%", "P", "%VERSION%", "9", "9 %VERSION%"},
    {"%PRODUCT%%SERIES%%VERSION%", "", "", "", ""},
    {"", "P", "S", "V", ""},
};

TEST(ExpandTemplate, ReplacesFirstOccurrencesInStepOrder) {
  for (const ExpandCase& row : kCases) {
    SCOPED_TRACE(row.source);
    EXPECT_EQ(Expand(row.source, row.product, row.series, row.version), row.expected);
  }
}

TEST(ExpandTemplate, CutsAtTheDestinationCapacity) {
  char out[16];
  std::memset(out, '#', sizeof out);
  ASSERT_TRUE(ExpandTemplateText("%PRODUCT% %VERSION%", "Alpha", "", "1.2", out, 6));
  EXPECT_STREQ(out, "Alpha");
  EXPECT_EQ(out[6], '#') << "wrote past the capacity";

  std::memset(out, '#', sizeof out);
  ASSERT_TRUE(ExpandTemplateText("%PRODUCT%", "Alpha", "", "", out, 1));
  EXPECT_STREQ(out, "");
  EXPECT_EQ(out[1], '#');
}

TEST(ExpandTemplate, LongResultsAreCutToTheWorkingBuffer) {
  const std::string source = std::string(1000, 'a') + "%PRODUCT%";
  const std::string product(100, 'p');
  char out[2048];
  ASSERT_TRUE(ExpandTemplateText(source.c_str(), product.c_str(), "", "", out, sizeof out));
  EXPECT_EQ(std::strlen(out), 1023u);
  EXPECT_EQ(std::string(out), (std::string(1000, 'a') + product).substr(0, 1023));
}

TEST(ExpandTemplate, SourceMayBeTheDestination) {
  char text[64] = "%PRODUCT%-%SERIES%-%VERSION%";
  ASSERT_TRUE(ExpandTemplateText(text, "Alpha", "Beta", "1.2", text, sizeof text));
  EXPECT_STREQ(text, "Alpha-Beta-1.2");
}

TEST(ExpandTemplate, RefusesMissingTextsAndAnEmptyDestination) {
  char out[8] = "keep";
  EXPECT_FALSE(ExpandTemplateText(nullptr, "P", "S", "V", out, sizeof out));
  EXPECT_FALSE(ExpandTemplateText("x", "P", "S", "V", nullptr, 8));
  EXPECT_FALSE(ExpandTemplateText("x", "P", "S", "V", out, 0));
  EXPECT_STREQ(out, "keep");
}

}  // namespace
