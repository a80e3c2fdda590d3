#include "server_restart.h"
