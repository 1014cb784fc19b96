// Windows has the system's own account service: there is no store to choose.
#include "config/store_settings.h"

int choose_configured_store(std::string &refusal)
{
    refusal.clear();
    return STORE_READY;
}

int configure_account_store()
{
    return STORE_READY;
}

const char *account_store_program()
{
    return nullptr;
}
