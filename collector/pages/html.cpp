#include "pages/html.h"

#include <iconv.h>

#include <cstdio>
#include <ctime>

namespace collector {
namespace {

constexpr char kStyle[] = R"CSS(
body { font-family: sans-serif; margin: 1.5em; color: #222; }
nav a { margin-right: 1.2em; }
table { border-collapse: collapse; margin: 0.6em 0 1.4em; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.6em; text-align: left; vertical-align: top; }
th { background: #f0f0f0; }
code, .mono { font-family: monospace; }
.note { color: #8a5a00; }
.muted { color: #777; }
pre.text { background: #f7f7f7; border: 1px solid #ddd; padding: 0.5em; white-space: pre-wrap; max-width: 60em; }
img.shot { max-width: 100%; border: 1px solid #999; }
svg.bars rect { fill: #4a7ab8; }
)CSS";

// Appends one code point as UTF-8.
void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | cp >> 6);
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | cp >> 12);
    *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | cp >> 18);
    *out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendEscapedByte(std::string* out, uint8_t byte) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  *out += hex;
}

}  // namespace

std::string Html(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ClientUtf8(std::string_view bytes) {
  std::string out;
  iconv_t gbk = iconv_open("UTF-32LE", "GBK");
  size_t at = 0;
  while (at < bytes.size()) {
    uint8_t byte = static_cast<uint8_t>(bytes[at]);
    if (byte < 0x80) {
      // Controls other than line breaks and tabs would be invisible or disturb the page.
      if (byte < 0x20 && byte != '\n' && byte != '\r' && byte != '\t') {
        AppendEscapedByte(&out, byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++at;
      continue;
    }
    // A GBK character is two bytes, the first 0x81-0xFE.
    uint32_t cp = 0;
    bool decoded = false;
    if (gbk != reinterpret_cast<iconv_t>(-1) && at + 1 < bytes.size()) {
      char in[2] = {bytes[at], bytes[at + 1]};
      char* in_ptr = in;
      size_t in_left = 2;
      char* out_ptr = reinterpret_cast<char*>(&cp);
      size_t out_left = sizeof cp;
      iconv(gbk, nullptr, nullptr, nullptr, nullptr);
      decoded = iconv(gbk, &in_ptr, &in_left, &out_ptr, &out_left) != static_cast<size_t>(-1) && in_left == 0;
    }
    if (decoded) {
      AppendUtf8(&out, cp);
      at += 2;
    } else {
      AppendEscapedByte(&out, byte);
      ++at;
    }
  }
  if (gbk != reinterpret_cast<iconv_t>(-1)) iconv_close(gbk);
  return out;
}

std::string ClientHtml(std::string_view bytes) { return Html(ClientUtf8(bytes)); }

std::string HexAddress(uint64_t value) {
  char hex[24];
  if (value >> 32) {
    std::snprintf(hex, sizeof hex, "0x%016llX", static_cast<unsigned long long>(value));
  } else {
    std::snprintf(hex, sizeof hex, "0x%08llX", static_cast<unsigned long long>(value));
  }
  return hex;
}

std::string Hex32(uint32_t value) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", value);
  return hex;
}

std::string UtcTime(double unix_seconds) {
  time_t seconds = static_cast<time_t>(unix_seconds);
  tm parts{};
  gmtime_r(&seconds, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

std::string Ipv4(uint32_t address) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, address >> 16 & 255, address >> 8 & 255,
                address & 255);
  return text;
}

std::string PageHtml(std::string_view title, std::string_view body) {
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
  page += Html(title);
  page += "</title><style>";
  page += kStyle;
  page += "</style></head><body>\n<nav><a href=\"/\">Crash groups</a><a href=\"/telemetry\">Telemetry</a></nav>\n<h1>";
  page += Html(title);
  page += "</h1>\n";
  page += body;
  page += "\n</body></html>\n";
  return page;
}

}  // namespace collector
