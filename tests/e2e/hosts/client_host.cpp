// A scriptable host for the end-to-end tests: each argument is one call into VXIdent.dll, run in
// order. Results go to standard error, one "name=result" per call, so that standard output holds
// exactly what the library itself printed.
//
//   init | fin | counter K V M | int K V M | str K TEXT | strn K N | strnull K | bin K N | binnull K
//   binneg K | ids I1 I3 I4 | threads N CALLS MODE KEY | sleep MS
//   binthread KIB K N (a blob sent from a thread with a stack of KIB KiB) | nostdout
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VXIdent.h"

namespace {

int Arg(char** argv, int& i) { return std::atoi(argv[++i]); }

void Report(const char* name, int result) { std::fprintf(stderr, "%s=%d\n", name, result); }

// Byte i of every generated payload is 'a' + i mod 26, so the tests can tell where a cut fell.
std::vector<char> Pattern(int n) {
  std::vector<char> bytes(size_t(n > 0 ? n : 1));
  for (int i = 0; i < n; ++i) bytes[size_t(i)] = char('a' + i % 26);
  return bytes;
}

struct ThreadJob {
  int calls;
  int mode;
  int key;
};

DWORD WINAPI CounterThread(void* arg) {
  const ThreadJob* job = static_cast<const ThreadJob*>(arg);
  for (int i = 0; i < job->calls; ++i) VXIdent_Set_Counter(job->key, 1, job->mode);
  return 0;
}

// N threads each make CALLS counter reports of 1 under KEY + thread index.
void RunThreads(int threads, int calls, int mode, int key) {
  std::vector<ThreadJob> jobs(static_cast<size_t>(threads));
  std::vector<HANDLE> handles;
  for (int t = 0; t < threads; ++t) {
    jobs[size_t(t)] = ThreadJob{calls, mode, key + t};
    handles.push_back(CreateThread(nullptr, 0, CounterThread, &jobs[size_t(t)], 0, nullptr));
  }
  WaitForMultipleObjects(DWORD(handles.size()), handles.data(), TRUE, INFINITE);
  for (HANDLE h : handles) CloseHandle(h);
}

struct BlobJob {
  SIZE_T stack_bytes;
  int key;
  int length;
  int result;
};

// Wine gives every thread at least 1 MiB of stack, whatever it asks for. The pages below what was
// asked for are made unusable, so that the thread has what Windows would give it: the reservation,
// less its guard page. Returns the stack left usable, in KiB.
SIZE_T ConfineStack(SIZE_T reservation) {
  constexpr SIZE_T kPage = 4096;
  constexpr SIZE_T kWineGuardArea = 4 * kPage;  // Wine's own guard pages at the bottom stay as they are
  int on_this_stack = 0;
  MEMORY_BASIC_INFORMATION stack;
  VirtualQuery(&on_this_stack, &stack, sizeof stack);
  char* base = static_cast<char*>(stack.AllocationBase);
  char* top = static_cast<char*>(reinterpret_cast<NT_TIB*>(NtCurrentTeb())->StackBase);
  char* floor = top - reservation + kPage;
  DWORD old;
  if (floor > base + kWineGuardArea &&
      !VirtualProtect(base + kWineGuardArea, SIZE_T(floor - base) - kWineGuardArea, PAGE_NOACCESS, &old)) {
    floor = base;
  }
  return SIZE_T(top - (floor > base ? floor : base)) / 1024;
}

DWORD WINAPI BlobThread(void* arg) {
  BlobJob* job = static_cast<BlobJob*>(arg);
  Report("usable_stack_kib", int(ConfineStack(job->stack_bytes)));
  std::vector<char> blob = Pattern(job->length);
  job->result = VXIdent_Set_Bin(job->key, blob.data(), job->length);
  return 0;
}

// A game thread made with a small stack: the reservation is all the thread can ever have, so a
// call that needs more dies of a stack overflow inside it.
int BlobFromSmallStack(int stack_kib, int key, int length) {
  BlobJob job = {SIZE_T(stack_kib) * 1024, key, length, 99};
  HANDLE thread = CreateThread(nullptr, job.stack_bytes, BlobThread, &job,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) return 98;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return job.result;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* op = argv[i];
    if (!std::strcmp(op, "init")) {
      Report(op, VXIdent_Init());
    } else if (!std::strcmp(op, "fin")) {
      Report(op, VXIdent_Fin());
    } else if (!std::strcmp(op, "counter") || !std::strcmp(op, "int")) {
      int key = Arg(argv, i), value = Arg(argv, i), mode = Arg(argv, i);
      Report(op, op[0] == 'c' ? VXIdent_Set_Counter(key, value, mode) : VXIdent_Set_Int(key, value, mode));
    } else if (!std::strcmp(op, "ids")) {
      int i1 = Arg(argv, i), i3 = Arg(argv, i), i4 = Arg(argv, i);
      VXIdent_Set_Counter(1, i1, 0);
      VXIdent_Set_Counter(3, i3, 0);
      Report(op, VXIdent_Set_Counter(4, i4, 0));
    } else if (!std::strcmp(op, "str")) {
      int key = Arg(argv, i);
      Report(op, VXIdent_Set_Str(key, argv[++i]));
    } else if (!std::strcmp(op, "strn")) {
      int key = Arg(argv, i), n = Arg(argv, i);
      std::vector<char> text = Pattern(n);
      text.push_back(0);
      Report(op, VXIdent_Set_Str(key, text.data()));
    } else if (!std::strcmp(op, "strnull")) {
      Report(op, VXIdent_Set_Str(Arg(argv, i), nullptr));
    } else if (!std::strcmp(op, "bin")) {
      int key = Arg(argv, i), n = Arg(argv, i);
      std::vector<char> blob = Pattern(n);
      Report(op, VXIdent_Set_Bin(key, blob.data(), n));
    } else if (!std::strcmp(op, "binnull")) {
      Report(op, VXIdent_Set_Bin(Arg(argv, i), nullptr, 10));
    } else if (!std::strcmp(op, "binneg")) {
      Report(op, VXIdent_Set_Bin(Arg(argv, i), "abc", -3));
    } else if (!std::strcmp(op, "threads")) {
      int threads = Arg(argv, i), calls = Arg(argv, i), mode = Arg(argv, i), key = Arg(argv, i);
      RunThreads(threads, calls, mode, key);
      Report(op, 0);
    } else if (!std::strcmp(op, "binthread")) {
      int stack_kib = Arg(argv, i), key = Arg(argv, i), n = Arg(argv, i);
      Report(op, BlobFromSmallStack(stack_kib, key, n));
    } else if (!std::strcmp(op, "nostdout")) {
      // As in a game without a console: the process has no standard output at all.
      Report(op, SetStdHandle(STD_OUTPUT_HANDLE, nullptr) ? 0 : 1);
    } else if (!std::strcmp(op, "sleep")) {
      Sleep(DWORD(Arg(argv, i)));
    } else {
      std::fprintf(stderr, "unknown operation %s\n", op);
      return 2;
    }
  }
  return 0;
}
