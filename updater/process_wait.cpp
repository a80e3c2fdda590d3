#include "process_wait.h"
