#include "client/client_state_win.h"

ClientState g_client;
ClientConfig g_client_config;
