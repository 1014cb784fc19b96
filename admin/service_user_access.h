// Whether the service user can use the account database that lodgate-admin
// works on: a file it cannot write fails every check that lodgate-auth
// makes for the mail servers.
#pragma once

#include <string>

// Empty when the service user may read and write the database's files and
// make the missing ones, or when there is no such user on this host;
// otherwise what stops it ("the lodgate user cannot write FILE (owner root,
// mode 0600)").
std::string service_user_fault(const std::string &database);
