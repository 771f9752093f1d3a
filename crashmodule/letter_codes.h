// The letter codes by which HVModule.dat names flag sets: each letter that occurs anywhere in the
// value, in either case, sets its bit; order, repetition and other characters do not count.
#pragma once

#include <cstdint>

uint32_t ParseLevelFlags(const char* text);      // N T E M D O U C L R; null gives 0
uint32_t ParseDumpFlags(const char* text);       // S N F A B H M L E 1 2 3; null gives 0
uint32_t ParseLogFormatFlags(const char* text);  // S M T; null gives 0
