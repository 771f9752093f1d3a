// The text line of a log level, in its display form and its file form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crashmodule/module_types.h"

// The level names in code page 936, indexed by LogLevel.
extern const char* const kLevelNames[kLogLevelCount];

// Stands in the brackets of the display line when the caller gives no source.
constexpr char kDefaultSource[] = "Velmor";
// Fixed text before the code address, by which tools find the address in a log line.
constexpr char kLineMarker[] = "[@P#]";

// "[source]level- message - [@P#]0xADDRESS\n", cut to capacity - 1 characters. A null source is
// "Velmor", a null message or level name is empty. Returns the length.
size_t FormatDisplayLine(char* out, size_t capacity, const char* message, const char* source,
                         const char* level_name, uint32_t code_address);

// The display line without "[source]".
size_t FormatFileLine(char* out, size_t capacity, const char* message, const char* level_name,
                      uint32_t code_address);
