// The files the collector leaves in its output folder: saved blobs and one folder per crash report.
#pragma once

#include <string>

#include "bytes.h"

namespace collector {

// Creates `path` and its missing parents. False (and why) when it cannot.
bool MakeDirectories(const std::string& path, std::string* error);

// The absolute form of an existing folder.
std::string AbsolutePath(const std::string& path);

bool WriteWholeFile(const std::string& path, Bytes bytes, std::string* error);

// Creates a new file (or folder) named prefix + number + suffix inside `dir`, trying numbers from
// *next upward, and never touches one that exists already, so that a restarted collector does not
// overwrite what an earlier run saved. Returns the path, or empty (and why) on failure.
std::string CreateNumberedFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                               Bytes bytes, unsigned* next, std::string* error);
std::string CreateNumberedDirectory(const std::string& dir, const std::string& prefix, unsigned* next,
                                    std::string* error);

}  // namespace collector
