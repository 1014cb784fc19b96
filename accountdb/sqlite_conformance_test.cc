// The store-neutral cases against the sqlite store on a fresh file.
#include <memory>

#include "accountdb/account_db.h"
#include "accountdb/sqlite_store.h"
#include "tests/conformance/account_store_test.h"
#include "tests/test_support.h"

namespace {

std::unique_ptr<TempDir> directory;

bool make_sqlite_store(StoreSettings &settings)
{
    directory = std::make_unique<TempDir>();
    settings.account_db = directory->file("lodgate.db");
    return true;
}

void remove_sqlite_store()
{
    account_db_configure("");
    directory.reset();
}

const StoreUnderTest SQLITE_UNDER_TEST = {"sqlite", &SQLITE_STORE, make_sqlite_store,
                                          remove_sqlite_store, nullptr};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Database, AccountStoreTest, ::testing::Values(&SQLITE_UNDER_TEST),
                         [](const auto &info) { return std::string(info.param->name); });
