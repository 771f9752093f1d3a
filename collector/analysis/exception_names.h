// The names of the exception codes a game's crash carries, and what an access violation says
// about the access.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace collector {

// "EXCEPTION_ACCESS_VIOLATION", ...; empty for a code not in the table.
const char* ExceptionName(uint32_t code);

// For an access violation or in-page error, what was accessed how: "write to 0x0000000000000000";
// else empty. `parameters` are the exception record's information words.
std::string ExceptionDetail(uint32_t code, const std::vector<uint64_t>& parameters, int pointer_size);

}  // namespace collector
