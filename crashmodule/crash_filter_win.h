// The process's top-level exception filter, installed by VXException::Init. Its body belongs to
// the crash capture (crashcapture/); this folder only installs it.
#pragma once

#include <windows.h>

LONG WINAPI VXExceptionUnhandledExceptionFilter(EXCEPTION_POINTERS* exception);
