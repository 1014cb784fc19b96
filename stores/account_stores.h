// The stores the POSIX account service can stand on, and the one it stands
// on in this process (the service's serving_store, once a program links or
// chooses one).
#pragma once

#include "platform/account_backend.h"

// Makes a store that this program links choosable by its name (the
// directory store, in the programs linked with libldap).
void link_account_store(const AccountBackend *store);

// Chooses the store named by the account_service setting and hands it its
// settings: the store's answer to opening (with the fault of a setting it
// refused), or ERROR_INVALID_NAME when no store has that name. After either
// failure there is no store, and every operation fails.
DWORD choose_account_store(const char *name, const StoreSettings &settings,
                           StoreSettingFault &fault);

// The chosen store; before any choice the first of the table (sqlite), as
// the default of the setting; none after an unknown name or a refused
// setting.
const AccountBackend *account_store();
