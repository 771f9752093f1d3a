#include "crashmodule/expand_template.h"

#include <cstring>

#include "crashmodule/bounded_text.h"
#include "crashmodule/vx_exception.h"

namespace {

// out becomes text with its first placeholder replaced by value, or a copy of text.
void ReplaceFirst(const char* text, const char* placeholder, const char* value, char* out,
                  size_t out_size) {
  const char* found = std::strstr(text, placeholder);
  TextBuilder builder(out, out_size);
  if (found == nullptr) {
    builder.Append(text);
    return;
  }
  builder.Append(text, static_cast<size_t>(found - text));
  builder.Append(value);
  builder.Append(found + std::strlen(placeholder));
}

}  // namespace

bool ExpandTemplateText(const char* source, const char* product, const char* series,
                        const char* version, char* destination, size_t destination_size) {
  if (source == nullptr || product == nullptr || series == nullptr || version == nullptr ||
      destination == nullptr || destination_size == 0) {
    return false;
  }
  char first[kLineSize];
  char second[kLineSize];
  ReplaceFirst(source, "%PRODUCT%", product, first, sizeof first);
  ReplaceFirst(first, "%SERIES%", series, second, sizeof second);
  ReplaceFirst(second, "%VERSION%", version, first, sizeof first);
  CopyText(destination, destination_size, first);
  return true;
}
