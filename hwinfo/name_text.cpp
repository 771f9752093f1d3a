#include "hwinfo/name_text.h"

#include <cstring>

void LowerAscii(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'A' && *text <= 'Z') *text = char(*text - 'A' + 'a');
  }
}

void BlankBrackets(char* text) {
  bool inside = false;
  for (; *text != '\0'; ++text) {
    if (*text == '(') {
      inside = true;
      *text = ' ';
    } else if (*text == ')') {
      inside = false;
      *text = ' ';
    } else if (inside) {
      *text = ' ';
    }
  }
}

void CompactName(const char* text, const char* drop, char* out, size_t capacity) {
  size_t length = 0;
  for (; *text != '\0' && length + 1 < capacity; ++text) {
    if (std::strchr(drop, *text) == nullptr) out[length++] = *text;
  }
  out[length] = '\0';
}
