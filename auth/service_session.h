// The configuration, trace log and account database that a check uses,
// opened as the service user and closed before anything else runs.
#pragma once

// Reads the named configuration file, or without one lodgate-auth.ini and
// then lodgate.ini in the system configuration directory (never the
// current directory, which belongs to the caller). 1 on success; 0 when no
// file could be read.
int start_service_work(const char *config_file);

// Closes the account database and the trace log and drops the settings, so
// that no descriptor of the service user's reaches another program.
void finish_service_work();
