// The configuration, trace log and account database that a check uses,
// opened as the service user and closed before anything else runs.
#pragma once

#include <string>

// What start_service_work found.
constexpr int SERVICE_FAILED = 0;
constexpr int SERVICE_READY = 1;
// The configured store lives in lodgate-auth-ldap (auth/store_program.h).
constexpr int SERVICE_IN_STORE_PROGRAM = 2;

// Reads the named configuration file, or without one lodgate_auth.ini and
// then lodgate.ini in the system configuration directory (never the
// current directory, which belongs to the caller), and opens the store it
// names. After SERVICE_FAILED, fault says why: the file that cannot be
// read, or the setting the store refused.
int start_service_work(const char *config_file, std::string &fault);

// Closes the account database and the trace log and drops the settings, so
// that no descriptor of the service user's reaches another program.
void finish_service_work();
