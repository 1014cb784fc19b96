// The directory store: accounts, local groups and the lockout policy in an
// LDAP directory (OpenLDAP with ppolicy, Samba AD or Active Directory).
#pragma once

#include "platform/account_backend.h"

// account_service ldap
extern const AccountBackend LDAP_STORE;
