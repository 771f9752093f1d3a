// Building pages out of what players' machines sent: every text from the network passes through
// one of these before it reaches a page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace collector {

// UTF-8 text made safe for an HTML element or a quoted attribute.
std::string Html(std::string_view utf8);
// The client's bytes (texts in the ANSI code page, GBK for the design's Chinese texts) as escaped
// HTML: decoded as GBK, and bytes that are not GBK shown as \xNN.
std::string ClientHtml(std::string_view bytes);
// The client's bytes as UTF-8, the same way, for plain-text use.
std::string ClientUtf8(std::string_view bytes);

std::string HexAddress(uint64_t value);  // "0x0000000140001234" style, 8 or 16 digits
std::string Hex32(uint32_t value);       // "0xC0000005"
std::string UtcTime(double unix_seconds);  // "2024-05-01 12:34:56 UTC"
std::string Ipv4(uint32_t address);

// The page around a body: title, the navigation and the stylesheet.
std::string PageHtml(std::string_view title, std::string_view body);

}  // namespace collector
