// The installed DirectX level, judged from the versions of a few component files in the system
// directory, newest level first. Nothing is loaded.
#pragma once

#include "hwinfo/file_version.h"

// Levels are major * 10000 + minor * 100 + revision; revisions 1 and 2 stand for the lettered
// releases a and b (80102 is 8.1b).
constexpr int kDirectXNone = 0;

// Runs the steps against the files of system_dir (as GetSystemDirectoryA gives it, without a
// trailing backslash), reading each file's version with read. A null system_dir gives 0.
int DirectXVersionFrom(const char* system_dir, FileVersionReader read);
