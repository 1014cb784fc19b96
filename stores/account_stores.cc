// The stores linked into the programs, by their account_service names.
#include "stores/account_stores.h"

#include "accountdb/sqlite_store.h"
#include "text/text.h"
#include "log/trace_log.h"

namespace {

// The first is the default; programs built with more stores add them.
constexpr int STORES_MAX = 4;
const AccountBackend *linked_stores[STORES_MAX] = {&SQLITE_STORE};
int store_count = 1;

const AccountBackend *chosen = nullptr;
// An unknown account_service, or a store that refused its settings, leaves
// no store: every operation fails, so that no account is read or changed
// in a store the administrator did not name or set up as meant.
bool none_usable = false;

void use_store(const AccountBackend *store)
{
    if (chosen != nullptr && chosen != store)
        chosen->close();
    chosen = store;
}

}  // namespace

void link_account_store(const AccountBackend *store)
{
    serving_store = account_store;
    if (store_count < STORES_MAX)
        linked_stores[store_count++] = store;
}

DWORD choose_account_store(const char *name, const StoreSettings &settings,
                           StoreSettingFault &fault)
{
    fault = StoreSettingFault{};
    serving_store = account_store;
    const AccountBackend *named = nullptr;
    for (int i = 0; i < store_count && named == nullptr; ++i)
        if (same_text(name, linked_stores[i]->name) == 0)
            named = linked_stores[i];
    use_store(named);
    DWORD status = named != nullptr ? named->open(settings, fault) : ERROR_INVALID_NAME;
    none_usable = status != NERR_Success;
    if (none_usable)
        use_store(nullptr);
    return status;
}

const AccountBackend *account_store()
{
    if (chosen != nullptr)
        return chosen;
    if (none_usable) {
        log_error("no account store: the account_service setting names none, or its "
                  "settings were refused");
        return nullptr;
    }
    return linked_stores[0];
}
