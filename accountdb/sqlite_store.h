// The account database as the "sqlite" store of the POSIX account service:
// one SQLite file per installation, crypt(3) hashes checked here, with the
// lockout policy, the dummy verify for unknown names and the hash upgrade.
#pragma once

#include "platform/account_backend.h"

extern const AccountBackend SQLITE_STORE;
