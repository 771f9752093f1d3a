// The process-wide client: its state (identities, gathering table, machine identifier, hardware
// profile) and its configuration. ClientLock guards the state for the two number reports.
#pragma once

#include "client/client_config.h"
#include "client/client_core.h"

extern ClientState g_client;
extern ClientConfig g_client_config;  // written once by LoadClientConfig, read-only afterwards
