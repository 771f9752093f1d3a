#include "crashmodule/letter_codes.h"

#include <cstddef>
#include <cstring>

#include "crashmodule/module_types.h"
#include "crashmodule/vx_exception.h"

namespace {

struct LetterBit {
  char letter;
  uint32_t bit;
};

constexpr LetterBit kLevelLetters[] = {
    {'N', kLevelNone},      {'T', kLevelThrow},         {'E', kLevelExit},
    {'M', kLevelMessageBox}, {'D', kLevelDebugger},     {'O', kLevelExceptionDump},
    {'U', kLevelUserDump},  {'C', kLevelC},             {'L', kLevelFileLog},
    {'R', kLevelRemoteLog},
};

constexpr LetterBit kDumpLetters[] = {
    {'S', kDumpFilterMemory}, {'N', kDumpNormal},     {'F', kDumpF},
    {'A', kDumpA},            {'B', kDumpB},          {'H', kDumpShotHigh},
    {'M', kDumpShotMedium},   {'L', kDumpShotLow},    {'E', kDumpExtraInfo},
    {'1', kDumpUserText1},    {'2', kDumpUserText2},  {'3', kDumpUserText3},
};

constexpr LetterBit kLogFormatLetters[] = {
    {'S', kLogFormatS},
    {'M', kLogFormatM},
    {'T', kLogFormatT},
};

template <size_t N>
uint32_t ParseLetters(const char* text, const LetterBit (&table)[N]) {
  if (text == nullptr) return 0;
  // The value is looked at upper-cased, in a working buffer of the line size; the reader never
  // returns more than 511 characters, so the cut is never reached from a settings file.
  char upper[kLineSize];
  size_t length = 0;
  for (; length + 1 < sizeof upper && text[length] != '\0'; ++length) {
    const char c = text[length];
    upper[length] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  upper[length] = '\0';
  uint32_t flags = 0;
  for (const LetterBit& entry : table) {
    if (std::strchr(upper, entry.letter) != nullptr) flags |= entry.bit;
  }
  return flags;
}

}  // namespace

uint32_t ParseLevelFlags(const char* text) { return ParseLetters(text, kLevelLetters); }
uint32_t ParseDumpFlags(const char* text) { return ParseLetters(text, kDumpLetters); }
uint32_t ParseLogFormatFlags(const char* text) { return ParseLetters(text, kLogFormatLetters); }
