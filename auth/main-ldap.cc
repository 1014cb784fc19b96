// lodgate-auth-ldap: lodgate-auth with the directory store linked in as
// well, started by lodgate-auth when account_service is ldap.
#include "auth/lodgate_auth.h"
#include "ldapstore/ldap_store.h"
#include "stores/account_stores.h"

int main(int argc, char **argv)
{
    link_account_store(&LDAP_STORE);
    return run_lodgate_auth(argc, argv);
}
