#include "common/log.h"

// The logger's storage, shared by every module of the program.
INITIALIZE_EASYLOGGINGPP
