// The exit codes with which module_host's stand-in top-level filter ends the process.
#pragma once

constexpr unsigned kFilterReachedByModuleException = 77;
constexpr unsigned kFilterReachedByOther = 78;
