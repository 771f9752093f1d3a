#include "crashmodule/log_line.h"

#include "crashmodule/bounded_text.h"

const char* const kLevelNames[kLogLevelCount] = {
    "\xB5\xF7\xCA\xD4",                  // Debug
    "\xBE\xAF\xB8\xE6",                  // Warn
    "\xD1\xCF\xD6\xD8\xB4\xED\xCE\xF3",  // FatalException
    "\xB4\xED\xCE\xF3",                  // Exception
    "LOG",                               // Log
    "\xD4\xB6\xB3\xCCLOG",               // RemoteLog
    "DUMP",                              // Dump
};

namespace {

// Everything after the source: "level- message - [@P#]0xADDRESS\n".
void AppendLineBody(TextBuilder* builder, const char* message, const char* level_name,
                    uint32_t code_address) {
  builder->Append(level_name);
  builder->Append("- ");
  builder->Append(message);
  builder->Append(" - ");
  builder->Append(kLineMarker);
  builder->Append("0x");
  builder->AppendHex8(code_address);
  builder->Append("\n");
}

}  // namespace

size_t FormatDisplayLine(char* out, size_t capacity, const char* message, const char* source,
                         const char* level_name, uint32_t code_address) {
  TextBuilder builder(out, capacity);
  builder.Append("[");
  builder.Append(source != nullptr ? source : kDefaultSource);
  builder.Append("]");
  AppendLineBody(&builder, message, level_name, code_address);
  return builder.length();
}

size_t FormatFileLine(char* out, size_t capacity, const char* message, const char* level_name,
                      uint32_t code_address) {
  TextBuilder builder(out, capacity);
  AppendLineBody(&builder, message, level_name, code_address);
  return builder.length();
}
