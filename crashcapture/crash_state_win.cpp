#include "crashcapture/crash_state_win.h"

CrashState g_crash_state;
