// Windows has the system's own account service: there is no store to choose.
#include "config/store_settings.h"

int configure_account_store()
{
    return 1;
}

const char *account_store_program()
{
    return nullptr;
}
