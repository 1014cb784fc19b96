// What only a directory's listings do: ask the server for the shape of the
// names, and end the listings a caller left unfinished.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <set>

#include "ldapstore/ldap_store.h"
#include "tests/ldap/slapd_fixture.h"

namespace {

const AccountBackend &store = LDAP_BACKEND;

bool take_one(const StoreAccount &, void *context)
{
    int &left = *static_cast<int *>(context);
    return left-- > 0;
}

std::set<std::string> listed(const NameShape &shape)
{
    std::set<std::string> names;
    int left = 1000;
    StorePage page;
    EXPECT_EQ(store.list_accounts("", shape, take_one, &left, page), NERR_Success);
    for (const StoreAccount &account : page.accounts)
        names.insert(account.name);
    return names;
}

int open_sockets()
{
    int count = 0;
    DIR *fds = opendir("/proc/self/fd");
    for (dirent *fd = fds != nullptr ? readdir(fds) : nullptr; fd != nullptr; fd = readdir(fds)) {
        char target[64] = {};
        std::string path = std::string("/proc/self/fd/") + fd->d_name;
        if (readlink(path.c_str(), target, sizeof target - 1) > 0 &&
            std::string(target).rfind("socket:", 0) == 0)
            ++count;
    }
    if (fds != nullptr)
        closedir(fds);
    return count;
}

}  // namespace

TEST(LdapListing, ShapesAreAskedOfTheServerAndUnfinishedListingsEnd)
{
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(add_store_tree(*server, "ou=site"));
    std::string people = std::string("ou=people,ou=site,") + SLAPD_SUFFIX;
    // More than a listing reads in one search, so that listings page.
    std::vector<std::string> names = {"u1999", "u19990", "u2000", "U19991"};
    for (int i = 0; i < 20; ++i)
        names.push_back("x" + std::to_string(i));
    std::string ldif;
    for (const std::string &name : names)
        ldif += "dn: uid=" + name + "," + people + "\nobjectClass: inetOrgPerson\nuid: " + name +
                "\ncn: x\nsn: x\n\n";
    ASSERT_EQ(ldap_root_change(*server, "ldapadd", ldif), 0);
    int sockets = open_sockets();
    StoreSettingFault fault;
    ASSERT_EQ(store.open(slapd_store_settings(*server, server->uri, "ou=site"), fault),
              NERR_Success);

    // The server's match ignores case: U19991 is the module's to refuse.
    EXPECT_EQ(listed({"u1999", ""}), (std::set<std::string>{"u1999", "u19990", "U19991"}));

    std::vector<std::string> cursors;
    for (int i = 0; i < 6; ++i) {
        int left = 1;
        StorePage page;
        ASSERT_EQ(store.list_accounts("", {}, take_one, &left, page), NERR_Success);
        ASSERT_TRUE(page.more);
        cursors.push_back(page.next);
    }
    EXPECT_LE(open_sockets() - sockets, 5);  // four listings and the service connection
    int left = 1000;
    StorePage page;
    EXPECT_EQ(store.list_accounts(cursors[0], {}, take_one, &left, page), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(store.list_accounts(cursors[5], {}, take_one, &left, page), NERR_Success);
    EXPECT_EQ(page.accounts.size(), names.size() - 1);
    EXPECT_FALSE(page.more);
    EXPECT_EQ(store.list_accounts(cursors[5], {}, take_one, &left, page), ERROR_INVALID_PARAMETER);
    store.close();
    EXPECT_EQ(open_sockets(), sockets);
}
