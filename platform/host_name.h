// This computer's host name (POSIX), as gethostname() gives it.
#pragma once

#include <string>

// Read once a process: the module resolves the host at every command, and
// a host renamed while a module runs is seen by the next module. Empty when
// it cannot be had.
const std::string &host_name();
