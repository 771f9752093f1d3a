// A 32-bit host that calls the exports of VXIdent.dll many times through a thunk that checks the
// calling convention after every call: the stack pointer must be back where it was before the
// arguments were pushed (the four Set functions remove their own arguments), and the registers a
// callee must preserve (ebx, esi, edi, ebp) must hold what they held. A compiler-generated call
// would hide a wrong cleanup for a while and then fail somewhere unrelated; the thunk sees it at
// the call that did it.
//
// Usage: emu32_stdcall_host.exe ROUNDS
// Each round makes the calls below; the datagrams go to the server of HVInfo.conf in the current
// directory, where the driver counts and decodes them. Prints one summary line and exits 0 when
// every call kept the convention and returned what the client's rules say.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
// Calls fn with arg_count 32-bit arguments (args[0] first) and returns its result. stack_delta
// gets esp after the call minus esp before the pushes: 0 for a callee that removes its arguments,
// -4 * arg_count for one that leaves them. saved_ok gets 1 when ebx, esi and edi came back intact.
// ebp is checked by the thunk still being able to return at all.
int __cdecl CheckedCall(const void* fn, int arg_count, const int* args, int* stack_delta, int* saved_ok);
}

// The thunk is written out by hand because the point is to see the raw stack pointer; a compiler
// would keep its own idea of where the stack is and address its locals through ebp.
asm(R"(
  .text
  .globl _CheckedCall
_CheckedCall:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 12(%ebp), %ecx
  movl 16(%ebp), %edx
1:
  testl %ecx, %ecx
  jz 2f
  decl %ecx
  pushl (%edx,%ecx,4)
  jmp 1b
2:
  movl 8(%ebp), %eax
  movl $0x5EB1A5ED, %ebx
  movl $0x51C0FFEE, %esi
  movl $0xD1D0BEEF, %edi
  call *%eax
  xorl %ecx, %ecx
  cmpl $0x5EB1A5ED, %ebx
  jne 3f
  cmpl $0x51C0FFEE, %esi
  jne 3f
  cmpl $0xD1D0BEEF, %edi
  jne 3f
  movl $1, %ecx
3:
  movl 24(%ebp), %edx
  movl %ecx, (%edx)
  leal -12(%ebp), %ecx
  movl %esp, %edx
  subl %ecx, %edx
  movl 20(%ebp), %ecx
  movl %edx, (%ecx)
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

namespace {

struct Tally {
  int calls = 0;
  int stack_faults = 0;
  int register_faults = 0;
  int result_faults = 0;
};

Tally g_tally;

// One checked call; a fault is printed with the name of the call so the log says which one.
int Call(const char* name, const void* fn, int expected, int arg_count, int a = 0, int b = 0, int c = 0) {
  const int args[3] = {a, b, c};
  int delta = 0;
  int saved_ok = 0;
  const int result = CheckedCall(fn, arg_count, args, &delta, &saved_ok);
  ++g_tally.calls;
  if (delta != 0) {
    ++g_tally.stack_faults;
    std::printf("FAULT %s: stack pointer moved by %d bytes\n", name, delta);
  }
  if (!saved_ok) {
    ++g_tally.register_faults;
    std::printf("FAULT %s: a callee-saved register changed\n", name);
  }
  if (result != expected) {
    ++g_tally.result_faults;
    std::printf("FAULT %s: returned %d, expected %d\n", name, result, expected);
  }
  return result;
}

int __stdcall StdcallSample(int a, int b, int c) { return a + b + c; }
int __cdecl CdeclSample(int a, int b, int c) { return a + b + c; }

// The checker must tell the two conventions apart, or a pass would mean nothing.
bool CheckerWorks() {
  const int args[3] = {1, 2, 3};
  int delta = 1;
  int saved_ok = 0;
  const bool stdcall_ok = CheckedCall(reinterpret_cast<const void*>(&StdcallSample), 3, args, &delta, &saved_ok) == 6 &&
                          delta == 0 && saved_ok == 1;
  const bool cdecl_seen = CheckedCall(reinterpret_cast<const void*>(&CdeclSample), 3, args, &delta, &saved_ok) == 6 &&
                          delta == -12 && saved_ok == 1;
  std::printf("checker: stdcall sample %s, cdecl sample %s (delta %d)\n", stdcall_ok ? "clean" : "WRONG",
              cdecl_seen ? "caught" : "MISSED", delta);
  return stdcall_ok && cdecl_seen;
}

// The DLL beside this program, whatever the current directory is (the driver runs us elsewhere).
HMODULE LoadClientDll() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) return nullptr;
  char* slash = std::strrchr(path, '\\');
  if (slash == nullptr) return nullptr;
  std::strcpy(slash + 1, "VXIdent.dll");
  return LoadLibraryA(path);
}

struct Exports {
  const void* init;
  const void* set_counter;
  const void* set_int;
  const void* set_str;
  const void* set_bin;
  const void* fin;
};

// Looks every export up by its undecorated name: a host's GetProcAddress finds nothing under
// "_VXIdent_Set_Counter@12".
bool FindExports(HMODULE dll, Exports* out) {
  const struct {
    const char* name;
    const void** slot;
  } table[] = {
      {"VXIdent_Init", &out->init},       {"VXIdent_Set_Counter", &out->set_counter},
      {"VXIdent_Set_Int", &out->set_int}, {"VXIdent_Set_Str", &out->set_str},
      {"VXIdent_Set_Bin", &out->set_bin}, {"VXIdent_Fin", &out->fin},
  };
  bool all = true;
  for (const auto& entry : table) {
    *entry.slot = reinterpret_cast<const void*>(GetProcAddress(dll, entry.name));
    if (*entry.slot == nullptr) {
      std::printf("FAULT export %s not found\n", entry.name);
      all = false;
    }
  }
  return all;
}

int Ptr(const void* p) { return static_cast<int>(reinterpret_cast<INT_PTR>(p)); }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 100;
  // The driver reads our lines while we run; the client's echo goes to the same stdout.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (!CheckerWorks()) return 3;
  HMODULE dll = LoadClientDll();
  if (dll == nullptr) {
    std::printf("FAULT VXIdent.dll not loaded (error %lu)\n", GetLastError());
    return 2;
  }
  Exports fn;
  if (!FindExports(dll, &fn)) return 2;

  // Identities 0x1234, 0x56 and 0x789: their low halves appear in every datagram's header.
  Call("VXIdent_Init", fn.init, 0, 0);
  Call("VXIdent_Set_Counter(1)", fn.set_counter, 0, 3, 1, 0x1234, 0);
  Call("VXIdent_Set_Int(3)", fn.set_int, 0, 3, 3, 0x56, 0);
  Call("VXIdent_Set_Counter(4)", fn.set_counter, 0, 3, 4, 0x789, 0);

  static const char kText[] = "emu32 round";
  static unsigned char blob[64];
  for (int round = 0; round < rounds; ++round) {
    std::memset(blob, round & 0xFF, sizeof(blob));
    const int blob_length = 1 + round % static_cast<int>(sizeof(blob));
    // Four datagrams per round, each carrying the round number where the driver can see it.
    Call("VXIdent_Set_Counter", fn.set_counter, 0, 3, 5, round, 0);
    Call("VXIdent_Set_Int", fn.set_int, 0, 3, 6, -round, 0);
    Call("VXIdent_Set_Str", fn.set_str, 0, 2, 7, Ptr(kText));
    Call("VXIdent_Set_Bin", fn.set_bin, 0, 3, 8, Ptr(blob), blob_length);
    // Refusals take the same exits as sends: they must clean up the same way. Nothing is sent.
    Call("VXIdent_Set_Str(3)", fn.set_str, -1, 2, 3, Ptr(kText));
    Call("VXIdent_Set_Str(null)", fn.set_str, -1, 2, 7, 0);
    Call("VXIdent_Set_Bin(empty)", fn.set_bin, -1, 3, 8, Ptr(blob), 0);
    Call("VXIdent_Set_Counter(3)", fn.set_counter, 0, 3, 3, 99, 0);
  }
  Call("VXIdent_Fin", fn.fin, 0, 0);

  std::printf("summary: rounds=%d calls=%d stack_faults=%d register_faults=%d result_faults=%d\n", rounds,
              g_tally.calls, g_tally.stack_faults, g_tally.register_faults, g_tally.result_faults);
  const bool clean = g_tally.stack_faults == 0 && g_tally.register_faults == 0 && g_tally.result_faults == 0;
  return clean ? 0 : 1;
}
