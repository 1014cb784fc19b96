#include "platform/system_directory.h"

const char DEFAULT_SYSTEM_DIRECTORY[] = "c:\\winnt\\system32\\";
