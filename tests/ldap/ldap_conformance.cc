// The store-neutral cases against the directory store on a real slapd.
#include "ldapstore/ldap_store.h"
#include "tests/conformance/account_store_test.h"
#include "tests/ldap/slapd_fixture.h"

namespace {

std::unique_ptr<Slapd> shared_server;
int runs = 0;

// Each case gets a tree of its own on one server.
bool make_ldap_store(StoreSettings &settings)
{
    if (shared_server == nullptr)
        shared_server = start_slapd();
    if (shared_server == nullptr)
        return false;
    std::string base = "ou=run" + std::to_string(++runs);
    if (!add_store_tree(*shared_server, base))
        return false;
    settings = slapd_store_settings(*shared_server, shared_server->uri, base);
    return true;
}

const StoreUnderTest LDAP_UNDER_TEST = {"ldap", &LDAP_STORE, make_ldap_store, nullptr, nullptr};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Directory, AccountStoreTest, ::testing::Values(&LDAP_UNDER_TEST),
                         [](const auto &info) { return std::string(info.param->name); });
