// Filling the module's placeholders into a text: "%PRODUCT%", "%SERIES%", "%VERSION%".
#pragma once

#include <cstddef>

// The three steps run in the order product, series, version, each replacing the first
// occurrence of its placeholder in the result of the step before, so a placeholder brought in by
// a substituted text can be the one replaced. Intermediate results are held in line-sized
// buffers; the result is cut to destination_size - 1 characters. Source and destination may be
// the same buffer. False, with nothing written, for a null text or a destination of size 0.
bool ExpandTemplateText(const char* source, const char* product, const char* series,
                        const char* version, char* destination, size_t destination_size);
