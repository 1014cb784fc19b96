// Who owns the account database's files. Every program that checks
// passwords runs as the owner of the database's directory (the lodgate
// user of the package); files that root made would shut them all out.
#pragma once

#include <string>

// The system user and group that own the account database in the package,
// and that lodgate-auth checks passwords as.
constexpr const char SERVICE_USER[] = "lodgate";

// Run as root: a database file that root owns, and its -wal and -shm
// files, are handed to the owner and group of their directory (when that
// is not root). SQLite gives the -wal and -shm files it makes the main
// file's owner, so a tool run as root leaves every file as the service
// user's. Does nothing for any other user.
void adopt_directory_owner(const std::string &path);

// When the database's files or its directory keep this process out:
// "<file>: permission denied (owner <user>, this process runs as <user>)";
// otherwise empty.
std::string database_permission_fault(const std::string &path);
