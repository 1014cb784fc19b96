// lodgate-ldap: the module with the directory store linked in as well. The
// static lodgate starts it when account_service is ldap.
#include "command/command_loop.h"
#include "ldapstore/ldap_store.h"
#include "stores/account_stores.h"
#include "platform/process.h"

int main(int argc, char **argv)
{
    ignore_file_size_signal();
    link_account_store(&LDAP_STORE);
    return run_handed_lodgate(argc, argv);
}
