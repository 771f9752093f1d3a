// The crash summary's architecture-specific parts, one file per architecture (CMake picks it): the
// registers of the fault's CONTEXT, where the walk starts, and where the process keeps its loader
// list.
#pragma once

#include <windows.h>

#include "client/crash_summary_datagram.h"
#include "crashcapture/module_table.h"
#include "crashcapture/stack_candidates.h"

// Sets architecture and registers, and the walk's pointer size, instruction, stack and frame
// pointers (the caller finds the stack's end).
void ReadFaultContext(const CONTEXT& context, CrashSummary* summary, StackWalkStart* start);

// This process's PEB, read from the thread environment block (no call, no lock), and the layout of
// its loader structures.
uint64_t CurrentPeb();
const LoaderListLayout& ProcessLoaderList();
