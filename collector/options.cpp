#include "options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace collector {

const char kUsage[] =
    "usage: collector [--listen ADDR:PORT] [--out DIR] [--raw] [--exit-after N] [--idle-timeout SECONDS]\n";

namespace {

bool ParseListen(const std::string& text, Options* options) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string address = text.substr(0, colon);
  std::string port = text.substr(colon + 1);
  in_addr parsed;
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned long value = std::strtoul(port.c_str(), nullptr, 10);
  if (value > 65535) return false;
  options->listen_address = address;
  options->listen_port = static_cast<uint16_t>(value);
  return true;
}

bool ParseCount(const std::string& text, uint64_t* out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || value == 0) return false;
  *out = value;
  return true;
}

bool ParseSeconds(const std::string& text, double* out) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0) return false;
  *out = value;
  return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--raw") {
      options->raw = true;
      continue;
    }
    bool takes_value = name == "--listen" || name == "--out" || name == "--exit-after" || name == "--idle-timeout";
    if (!takes_value) {
      *error = "unknown option " + name;
      return false;
    }
    if (i + 1 >= argc) {
      *error = name + " needs a value";
      return false;
    }
    std::string value = argv[++i];
    bool ok = true;
    if (name == "--listen") ok = ParseListen(value, options);
    if (name == "--out") ok = !value.empty(), options->out_dir = value;
    if (name == "--exit-after") ok = ParseCount(value, &options->exit_after);
    if (name == "--idle-timeout") ok = ParseSeconds(value, &options->idle_timeout);
    if (!ok) {
      *error = "bad value for " + name + ": " + value;
      return false;
    }
  }
  return true;
}

}  // namespace collector
