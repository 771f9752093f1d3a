// Text handling shared by the processor and adapter classifiers. Both match lower-case keywords
// against names that vendors write in any case and decorate with bracketed marks such as (R) and
// (TM), which would otherwise split or fake a keyword.
#pragma once

#include <cstddef>

// Lower-cases A-Z in place. Only ASCII letters: the name may carry code-page bytes that must stay.
void LowerAscii(char* text);

// Blanks bracketed text in place, the parentheses included; a parenthesis never closed blanks the
// rest. "intel(r) pentium(r) 4" becomes "intel    pentium    4".
void BlankBrackets(char* text);

// Copies text into out without any character of `drop`, cut to capacity - 1 characters and
// terminated.
void CompactName(const char* text, const char* drop, char* out, size_t capacity);
