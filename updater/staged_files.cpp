#include "staged_files.h"
