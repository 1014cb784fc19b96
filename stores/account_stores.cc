// The stores linked into the programs, by their account_service names.
#include "platform/account_stores.h"

#include "accountdb/sqlite_store.h"
#include "log/text.h"
#include "log/trace_log.h"

namespace {

// The first is the default; programs built with more stores add them.
constexpr int STORES_MAX = 4;
const AccountBackend *linked_stores[STORES_MAX] = {&SQLITE_STORE};
int store_count = 1;

const AccountBackend *chosen = nullptr;
// An unknown account_service leaves no store: every operation fails, so
// that no account is read or changed in a store the administrator did not
// name.
bool none_named = false;

void use_store(const AccountBackend *store)
{
    if (chosen != nullptr && chosen != store)
        chosen->close();
    chosen = store;
}

}  // namespace

void link_account_store(const AccountBackend *store)
{
    if (store_count < STORES_MAX)
        linked_stores[store_count++] = store;
}

DWORD choose_account_store(const char *name, const StoreSettings &settings)
{
    for (int i = 0; i < store_count; ++i) {
        const AccountBackend *store = linked_stores[i];
        if (same_text(name, store->name) == 0) {
            use_store(store);
            none_named = false;
            return store->open(settings);
        }
    }
    use_store(nullptr);
    none_named = true;
    return ERROR_INVALID_NAME;
}

const AccountBackend *account_store()
{
    if (chosen != nullptr)
        return chosen;
    if (none_named) {
        log_error("no account store: the account_service setting names none");
        return nullptr;
    }
    return linked_stores[0];
}
