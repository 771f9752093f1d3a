// A 32-bit host that calls the exports of VXIdent.dll many times through a thunk that checks the
// calling convention after every call: the stack pointer must be back where it was before the
// arguments were pushed (the four Set functions remove their own arguments), and the registers a
// callee must preserve (ebx, esi, edi, ebp) must hold what they held. A compiler-generated call
// would hide a wrong cleanup for a while and then fail somewhere unrelated; the thunk sees it at
// the call that did it.
//
// Usage: emu32_stdcall_host.exe ROUNDS [GoogleTest options]
// A GoogleTest program: each round makes the calls below, every call a check of its own; the
// datagrams go to the server of HVInfo.conf in the current directory, where the driver counts and
// decodes them.
#include <windows.h>

#include <gtest/gtest.h>

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

int g_rounds = 100;

// One checked call, named in every failure so the log says which one.
void Call(const char* name, const void* fn, int expected, int arg_count, int a = 0, int b = 0, int c = 0) {
  const int args[3] = {a, b, c};
  int delta = 0;
  int saved_ok = 0;
  const int result = CheckedCall(fn, arg_count, args, &delta, &saved_ok);
  EXPECT_EQ(delta, 0) << name << ": the stack pointer moved";
  EXPECT_EQ(saved_ok, 1) << name << ": a callee-saved register changed";
  EXPECT_EQ(result, expected) << name;
}

int __stdcall StdcallSample(int a, int b, int c) { return a + b + c; }
int __cdecl CdeclSample(int a, int b, int c) { return a + b + c; }

// The checker must tell the two conventions apart, or a pass would mean nothing.
TEST(StdcallChecker, TellsTheConventionsApart) {
  const int args[3] = {1, 2, 3};
  int delta = 1;
  int saved_ok = 0;
  EXPECT_EQ(CheckedCall(reinterpret_cast<const void*>(&StdcallSample), 3, args, &delta, &saved_ok), 6);
  EXPECT_EQ(delta, 0);
  EXPECT_EQ(saved_ok, 1);
  EXPECT_EQ(CheckedCall(reinterpret_cast<const void*>(&CdeclSample), 3, args, &delta, &saved_ok), 6);
  EXPECT_EQ(delta, -12);
  EXPECT_EQ(saved_ok, 1);
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
    EXPECT_NE(*entry.slot, nullptr) << "export " << entry.name << " not found";
    all = all && *entry.slot != nullptr;
  }
  return all;
}

int Ptr(const void* p) { return static_cast<int>(reinterpret_cast<INT_PTR>(p)); }

TEST(StdcallExports, ManyCallsKeepTheStackRegistersAndResults) {
  HMODULE dll = LoadClientDll();
  ASSERT_NE(dll, nullptr) << "VXIdent.dll not loaded, error " << GetLastError();
  Exports fn;
  ASSERT_TRUE(FindExports(dll, &fn));

  // Identities 0x1234, 0x56 and 0x789: their low halves appear in every datagram's header.
  Call("VXIdent_Init", fn.init, 0, 0);
  Call("VXIdent_Set_Counter(1)", fn.set_counter, 0, 3, 1, 0x1234, 0);
  Call("VXIdent_Set_Int(3)", fn.set_int, 0, 3, 3, 0x56, 0);
  Call("VXIdent_Set_Counter(4)", fn.set_counter, 0, 3, 4, 0x789, 0);

  static const char kText[] = "emu32 round";
  static unsigned char blob[64];
  for (int round = 0; round < g_rounds; ++round) {
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
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc > 1) g_rounds = std::atoi(argv[1]);
  // The client's echo goes to the same stdout as GoogleTest's lines.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return RUN_ALL_TESTS();
}
