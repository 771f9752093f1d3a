#include "exception_names.h"

#include <cstdio>

namespace collector {
namespace {

struct NamedCode {
  uint32_t code;
  const char* name;
};

// Windows' NTSTATUS codes that end a process, the C++ runtimes' throws, and our library's own.
const NamedCode kExceptionNames[] = {
    {0xC0000005, "EXCEPTION_ACCESS_VIOLATION"},
    {0xC0000006, "EXCEPTION_IN_PAGE_ERROR"},
    {0xC0000008, "EXCEPTION_INVALID_HANDLE"},
    {0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000025, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "EXCEPTION_INVALID_DISPOSITION"},
    {0xC000008C, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {0xC000008E, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "EXCEPTION_FLT_INEXACT_RESULT"},
    {0xC0000090, "EXCEPTION_FLT_INVALID_OPERATION"},
    {0xC0000091, "EXCEPTION_FLT_OVERFLOW"},
    {0xC0000092, "EXCEPTION_FLT_STACK_CHECK"},
    {0xC0000093, "EXCEPTION_FLT_UNDERFLOW"},
    {0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "EXCEPTION_INT_OVERFLOW"},
    {0xC0000096, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC00000FD, "EXCEPTION_STACK_OVERFLOW"},
    {0xC0000135, "STATUS_DLL_NOT_FOUND"},
    {0xC0000142, "STATUS_DLL_INIT_FAILED"},
    {0xC0000194, "EXCEPTION_POSSIBLE_DEADLOCK"},
    {0xC0000374, "STATUS_HEAP_CORRUPTION"},
    {0xC0000409, "STATUS_STACK_BUFFER_OVERRUN"},
    {0xC0000417, "STATUS_INVALID_CRUNTIME_PARAMETER"},
    {0xC0000420, "STATUS_ASSERTION_FAILURE"},
    {0xC0000602, "STATUS_FAIL_FAST_EXCEPTION"},
    {0x80000001, "EXCEPTION_GUARD_PAGE"},
    {0x80000002, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0x80000003, "EXCEPTION_BREAKPOINT"},
    {0x80000004, "EXCEPTION_SINGLE_STEP"},
    {0x40010005, "DBG_CONTROL_C"},
    {0x40010006, "DBG_PRINTEXCEPTION_C"},
    {0x4001000A, "DBG_PRINTEXCEPTION_WIDE_C"},
    {0x406D1388, "MS_VC_THREAD_NAME"},
    {0xE06D7363, "MSVC_CPP_EXCEPTION"},     // "msc" | 0xE0000000: throw in MSVC's runtime
    {0x20474343, "GCC_CPP_EXCEPTION"},      // "GCC": an uncaught throw in MinGW's runtime
    {0xFFFF0002, "VXEXCEPTION_LOG_LEVEL"},  // raised by our library's Exception log level
};

// EXCEPTION_ACCESS_VIOLATION's first information word.
const char* AccessKind(uint64_t kind) {
  switch (kind) {
    case 0:
      return "read from";
    case 1:
      return "write to";
    case 8:
      return "execute at";  // data execution prevention
    default:
      return "access to";
  }
}

}  // namespace

const char* ExceptionName(uint32_t code) {
  for (const NamedCode& entry : kExceptionNames) {
    if (entry.code == code) return entry.name;
  }
  return "";
}

std::string ExceptionDetail(uint32_t code, const std::vector<uint64_t>& parameters, int pointer_size) {
  bool access = code == 0xC0000005 || code == 0xC0000006;
  if (!access || parameters.size() < 2) return "";
  char text[64];
  snprintf(text, sizeof text, "%s 0x%0*llx", AccessKind(parameters[0]), pointer_size * 2,
           static_cast<unsigned long long>(parameters[1]));
  return text;
}

}  // namespace collector
