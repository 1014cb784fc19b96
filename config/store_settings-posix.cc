#include "config/store_settings.h"

#include "accountdb/account_db.h"
#include "protocol/replies.h"
#include "config/settings.h"
#include "platform/account_stores.h"

std::string account_db_configured_path()
{
    if (settings.account_db && !settings.account_db->empty())
        return *settings.account_db;
    std::string::size_type slash = configuration_file_path.rfind('/');
    if (slash == std::string::npos)
        return ACCOUNT_DB_FILE_NAME;
    return configuration_file_path.substr(0, slash + 1) + ACCOUNT_DB_FILE_NAME;
}

StoreSettings store_settings()
{
    StoreSettings store;
    store.account_db = account_db_configured_path();
    return store;
}

int configure_account_store()
{
    const char *name = settings.account_service ? settings.account_service->c_str()
                                                : DEFAULT_ACCOUNT_SERVICE;
    if (choose_account_store(name, store_settings()) != ERROR_INVALID_NAME)
        return 1;
    reply_negative("-DEAD Unknown account_service {%s}", name);
    return 0;
}
