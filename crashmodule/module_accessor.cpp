#include "crashmodule/module_accessor.h"

#include "crashmodule/vx_exception.h"

namespace {

// Constructed by the library's static initialisation when the host loads it, which reads the
// settings files from the current directory of that moment; destroyed by the runtime at exit.
VXException g_module;

}  // namespace

VXException* GetVXException() { return &g_module; }
