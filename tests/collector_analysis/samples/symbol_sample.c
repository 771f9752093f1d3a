/* A tiny Windows program without a C runtime, built twice by the analysis tests' build: by MinGW
   with DWARF, and by clang and lld-link with a PDB. The tests look up its entry point's function,
   file and line in each. */
__attribute__((noinline)) int SampleInner(volatile int* value) {
  return *value * 3;
}

int SampleEntry(void) {
  volatile int value = 7;
  return SampleInner(&value) + 1;
}
