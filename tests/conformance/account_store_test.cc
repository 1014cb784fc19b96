#include "tests/conformance/account_store_test.h"

#include <map>
#include <set>

#include "accountdb/password_hash.h"

namespace {

const char PASSWORD[] = "Correct-Horse-9";

StoreAccount account_named(const std::string &name)
{
    StoreAccount account;
    account.name = name;
    account.home_dir = "/home/" + name;
    account.comment = "";  // present and empty, unlike the absent script path
    return account;
}

DWORD insert(const AccountBackend &store, const std::string &name,
             const char *password = PASSWORD)
{
    DWORD parm_err = 0;
    StorePassword text{password, nullptr};
    return store.insert_account(account_named(name), text, &parm_err);
}

// Stops after budget accounts per batch.
bool fits_budget(const StoreAccount &, void *context)
{
    int &left = *static_cast<int *>(context);
    return left-- > 0;
}

std::vector<std::string> list_in_batches(const AccountBackend &store, int budget,
                                         const NameShape &shape = {})
{
    std::vector<std::string> names;
    std::string cursor;
    for (int batch = 0; batch < 1000; ++batch) {
        int left = budget;
        StorePage page;
        EXPECT_EQ(store.list_accounts(cursor, shape, fits_budget, &left, page), NERR_Success);
        for (const StoreAccount &account : page.accounts)
            names.push_back(account.name);
        if (!page.more)
            break;
        cursor = page.next;
    }
    return names;
}

DWORD set_priv(const AccountBackend &store, const std::string &name, DWORD priv)
{
    StoreAccount account;
    if (DWORD status = store.find_account(name, account); status != NERR_Success)
        return status;
    account.priv = priv;
    return store.update_account(name, account, nullptr, nullptr);
}

// The privilege each named account is listed with.
void expect_privileges(const AccountBackend &store, const NameShape &shape,
                       const std::map<std::string, DWORD> &wanted)
{
    int left = 10000;
    StorePage page;
    ASSERT_EQ(store.list_accounts("", shape, fits_budget, &left, page), NERR_Success);
    std::map<std::string, DWORD> listed;
    for (const StoreAccount &account : page.accounts)
        if (wanted.count(account.name) != 0)
            listed[account.name] = account.priv;
    EXPECT_EQ(listed, wanted);
}

}  // namespace

void AccountStoreTest::SetUp()
{
    const char *name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    if (const char *reason = GetParam()->cannot ? GetParam()->cannot(name) : nullptr)
        GTEST_SKIP() << reason;
    StoreSettings settings;
    ASSERT_TRUE(GetParam()->make(settings)) << "cannot make a " << GetParam()->name << " store";
    StoreSettingFault fault;
    ASSERT_EQ(store().open(settings, fault), NERR_Success) << fault.detail;
    opened = true;
}

void AccountStoreTest::TearDown()
{
    if (opened)
        store().close();
    if (opened && GetParam()->tear_down != nullptr)
        GetParam()->tear_down();
}

TEST_P(AccountStoreTest, AccountsAreFoundChangedAndRemovedByNameInAnyCase)
{
    ASSERT_EQ(insert(store(), "Alice"), NERR_Success);
    EXPECT_EQ(insert(store(), "ALICE"), NERR_UserExists);
    StoreAccount found;
    ASSERT_EQ(store().find_account("aLiCe", found), NERR_Success);
    EXPECT_EQ(found.name, "Alice");
    EXPECT_EQ(found.home_dir, std::optional<std::string>("/home/Alice"));
    EXPECT_EQ(found.comment, std::optional<std::string>(""));
    EXPECT_EQ(found.script_path, std::nullopt);
    EXPECT_EQ(found.flags, UF_SCRIPT | UF_NORMAL_ACCOUNT);

    found.comment = "mail only";
    found.home_dir.reset();
    found.script_path = "logon.cmd";
    found.priv = USER_PRIV_ADMIN;
    ASSERT_EQ(store().update_account("alice", found, nullptr, nullptr), NERR_Success);
    StoreAccount changed;
    ASSERT_EQ(store().find_account("Alice", changed), NERR_Success);
    EXPECT_EQ(changed.comment, std::optional<std::string>("mail only"));
    EXPECT_EQ(changed.home_dir, std::nullopt);
    EXPECT_EQ(changed.script_path, std::optional<std::string>("logon.cmd"));
    EXPECT_EQ(changed.priv, USER_PRIV_ADMIN);

    EXPECT_EQ(store().update_account("nobody", found, nullptr, nullptr), NERR_UserNotFound);
    ASSERT_EQ(store().delete_account("ALICE"), NERR_Success);
    EXPECT_EQ(store().find_account("Alice", changed), NERR_UserNotFound);
    EXPECT_EQ(store().delete_account("Alice"), NERR_UserNotFound);
}

TEST_P(AccountStoreTest, ListingInSmallBatchesGivesEveryAccountOnceInOneOrder)
{
    const std::set<std::string> all = {"delta", "Alpha", "echo", "Charlie", "bravo", "golf", "fox"};
    for (const std::string &name : all)
        ASSERT_EQ(insert(store(), name), NERR_Success);
    std::vector<std::string> whole = list_in_batches(store(), 1000);
    std::vector<std::string> batched = list_in_batches(store(), 2);
    EXPECT_EQ(std::set<std::string>(whole.begin(), whole.end()), all);
    EXPECT_EQ(batched, whole);

    int left = 3;
    StorePage page;
    ASSERT_EQ(store().list_accounts("", {}, fits_budget, &left, page), NERR_Success);
    EXPECT_EQ(page.remaining, 7);
    EXPECT_TRUE(page.more);
}

TEST_P(AccountStoreTest, ThousandsComeOnceEachInCreationOrderThroughBatchesOfAnySize)
{
    std::string hash;
    ASSERT_EQ(hash_password(PASSWORD, hash), 0);
    std::vector<StoreImport> accounts(2500);
    std::vector<std::string> created;
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        // Creation order is not name order.
        accounts[i] = {account_named("m" + std::to_string(i * 7919 % accounts.size())), hash};
        created.push_back(accounts[i].account.name);
    }
    ASSERT_EQ(store().import_accounts(accounts), NERR_Success);
    ASSERT_EQ(set_priv(store(), created[1], USER_PRIV_ADMIN), NERR_Success);
    ASSERT_EQ(set_priv(store(), created[2], USER_PRIV_GUEST), NERR_Success);
    EXPECT_EQ(list_in_batches(store(), 10000), created);
    expect_privileges(store(), {}, {{created[1], USER_PRIV_ADMIN}, {created[2], USER_PRIV_GUEST},
                                    {created[3], USER_PRIV_USER}});

    // Two listings at once in batches that cut across any server page,
    // with lookups between them.
    std::vector<std::string> listed[2];
    std::string cursor[2];
    bool more[2] = {true, true};
    for (std::size_t round = 0; more[0] || more[1]; ++round) {
        for (int k = 0; k < 2; ++k) {
            int left = k == 0 ? 333 : 77;
            StorePage page;
            if (more[k]) {
                ASSERT_EQ(store().list_accounts(cursor[k], {}, fits_budget, &left, page),
                          NERR_Success);
            }
            for (const StoreAccount &account : page.accounts)
                listed[k].push_back(account.name);
            more[k] = page.more;
            cursor[k] = page.next;
        }
        StoreAccount found;
        ASSERT_EQ(store().find_account(created[round % created.size()], found), NERR_Success);
    }
    EXPECT_EQ(listed[0], created);
    EXPECT_EQ(listed[1], created);
}

TEST_P(AccountStoreTest, ListingOfANameShapeKeepsEveryNameOfThatShape)
{
    // Decomposed accents and filter syntax: what a directory's matching
    // could get wrong.
    const std::string names[] = {"u1999", "u19990", "U19991", "u2000", "ce\xcc\x81line",
                                 "celine", "*)(|(cn*x", "x<\xcc\xb8y", "nine9\xcc\x81",
                                 "\xc3\xa9\xcc\xa3t"};
    StorePassword text{PASSWORD, nullptr};
    for (const std::string &name : names) {
        StoreAccount account;  // a directory's homes are ASCII
        account.name = name;
        ASSERT_EQ(store().insert_account(account, text, nullptr), NERR_Success) << name;
    }
    const std::pair<NameShape, std::set<std::string>> cases[] = {
        {{"u1999", ""}, {"u1999", "u19990"}},
        {{"ce", ""}, {"ce\xcc\x81line", "celine"}},
        {{"", "line"}, {"ce\xcc\x81line", "celine"}},
        {{"*)(|(cn", ""}, {"*)(|(cn*x"}},
        {{"x<", "y"}, {"x<\xcc\xb8y"}},
        {{"nine9", ""}, {"nine9\xcc\x81"}},
        {{"", "ine", "9", ""}, {"nine9\xcc\x81"}},
        {{"\xc3\xa9", ""}, {"\xc3\xa9\xcc\xa3t"}},
    };
    ASSERT_EQ(set_priv(store(), "u1999", USER_PRIV_ADMIN), NERR_Success);
    ASSERT_EQ(set_priv(store(), "u19990", USER_PRIV_GUEST), NERR_Success);
    expect_privileges(store(), {"u1999", ""},
                      {{"u1999", USER_PRIV_ADMIN}, {"u19990", USER_PRIV_GUEST}});
    for (const auto &[shape, wanted] : cases) {
        std::vector<std::string> listed = list_in_batches(store(), 3, shape);
        std::set<std::string> kept(listed.begin(), listed.end());
        for (const std::string &name : wanted)
            EXPECT_EQ(kept.count(name), 1u) << name << " in the shape of " << shape[0];
    }
}

TEST_P(AccountStoreTest, GroupMembersJoinAllOrNone)
{
    ASSERT_EQ(insert(store(), "ann"), NERR_Success);
    ASSERT_EQ(insert(store(), "bob"), NERR_Success);
    EXPECT_EQ(store().add_group_members("Users", {"ann"}), NERR_Success);
    EXPECT_EQ(store().add_group_members("users", {"ANN"}), ERROR_MEMBER_IN_ALIAS);
    EXPECT_EQ(store().add_group_members("Users", {"bob", "nobody"}), ERROR_NO_SUCH_MEMBER);
    EXPECT_EQ(store().add_group_members("Users", {"bob", "Guests"}), ERROR_INVALID_MEMBER);
    EXPECT_EQ(store().add_group_members("No such group", {"bob"}), NERR_GroupNotFound);
    std::vector<std::string> members;
    ASSERT_EQ(store().group_members("Users", members), NERR_Success);
    EXPECT_EQ(members, std::vector<std::string>{"ann"});
}

TEST_P(AccountStoreTest, ChangeEndedWithoutKeepIsUndoneWhole)
{
    ASSERT_EQ(insert(store(), "kept"), NERR_Success);
    ASSERT_EQ(store().begin_change(), NERR_Success);
    ASSERT_EQ(insert(store(), "fresh"), NERR_Success);
    ASSERT_EQ(store().add_group_members("Users", {"fresh"}), NERR_Success);
    ASSERT_EQ(store().delete_account("kept"), NERR_Success);
    ASSERT_EQ(store().end_change(false), NERR_Success);

    StoreAccount account;
    EXPECT_EQ(store().find_account("fresh", account), NERR_UserNotFound);
    std::vector<std::string> members;
    ASSERT_EQ(store().group_members("Users", members), NERR_Success);
    EXPECT_TRUE(members.empty());
    DWORD error = 0;
    EXPECT_EQ(store().verify_logon("kept", PASSWORD, account, error), LogonVerdict::RIGHT);

    ASSERT_EQ(store().begin_change(), NERR_Success);
    ASSERT_EQ(insert(store(), "fresh"), NERR_Success);
    ASSERT_EQ(store().end_change(true), NERR_Success);
    EXPECT_EQ(store().find_account("fresh", account), NERR_Success);
}

TEST_P(AccountStoreTest, LogonVerdicts)
{
    ASSERT_EQ(insert(store(), "carol"), NERR_Success);
    StoreAccount account;
    DWORD error = 0;
    EXPECT_EQ(store().verify_logon("CAROL", PASSWORD, account, error), LogonVerdict::RIGHT);
    EXPECT_EQ(account.name, "carol");
    EXPECT_EQ(store().verify_logon("carol", "wrong", account, error), LogonVerdict::WRONG);
    EXPECT_EQ(store().verify_logon("nobody", PASSWORD, account, error), LogonVerdict::UNKNOWN);
    EXPECT_NE(store().verify_logon("carol", "", account, error), LogonVerdict::RIGHT);

    StoreAccount disabled = account_named("carol");
    disabled.flags |= UF_ACCOUNTDISABLE;
    ASSERT_EQ(store().update_account("carol", disabled, nullptr, nullptr), NERR_Success);
    EXPECT_EQ(store().verify_logon("carol", PASSWORD, account, error), LogonVerdict::DISABLED);
}

TEST_P(AccountStoreTest, PolicyIsKeptAndWrongPasswordsLockUntilUnlocked)
{
    const std::pair<PolicyKey, std::int64_t> values[] = {{PolicyKey::MIN_PASSWORD_LENGTH, 9},
                                                         {PolicyKey::LOCKOUT_THRESHOLD, 2},
                                                         {PolicyKey::LOCKOUT_WINDOW, 600},
                                                         {PolicyKey::LOCKOUT_DURATION, 1800}};
    for (const auto &[key, value] : values)
        ASSERT_EQ(store().write_policy(key, value), NERR_Success);
    for (const auto &[key, value] : values) {
        std::int64_t read = -1;
        ASSERT_EQ(store().read_policy(key, read), NERR_Success);
        EXPECT_EQ(read, value);
    }
    EXPECT_EQ(insert(store(), "shorty", "12345678"), NERR_PasswordTooShort);
    ASSERT_EQ(insert(store(), "dave"), NERR_Success);
    StoreAccount account;
    DWORD error = 0;
    store().verify_logon("dave", "wrong", account, error);
    store().verify_logon("dave", "wrong", account, error);
    EXPECT_EQ(store().verify_logon("dave", PASSWORD, account, error), LogonVerdict::LOCKED);
    ASSERT_EQ(store().find_account("dave", account), NERR_Success);
    EXPECT_TRUE(account.locked);
    ASSERT_EQ(store().unlock_account("dave"), NERR_Success);
    EXPECT_EQ(store().verify_logon("dave", PASSWORD, account, error), LogonVerdict::RIGHT);
}

TEST_P(AccountStoreTest, HostileNamesMatchOnlyThemselves)
{
    // '=' is a DN special too, but no new account may carry it.
    const std::string hostile = "a,b+c;d\\e(f)*<#>";
    ASSERT_EQ(insert(store(), "plain"), NERR_Success);
    ASSERT_EQ(insert(store(), hostile), NERR_Success);
    StoreAccount account;
    ASSERT_EQ(store().find_account(hostile, account), NERR_Success);
    EXPECT_EQ(account.name, hostile);
    for (const char *pattern : {"*", "p*", "*)(uid=*", "plain)(|(uid=*", "a,b+c;d\\e(f)", "a,b+c=d"})
        EXPECT_EQ(store().find_account(pattern, account), NERR_UserNotFound) << pattern;
    DWORD error = 0;
    EXPECT_EQ(store().verify_logon("*", PASSWORD, account, error), LogonVerdict::UNKNOWN);
    EXPECT_EQ(store().verify_logon("*)(uid=*", PASSWORD, account, error), LogonVerdict::UNKNOWN);
    DWORD parm_err = 0;
    StorePassword text{PASSWORD, nullptr};
    EXPECT_EQ(store().insert_account(account_named(std::string("nul\0name", 8)), text, &parm_err),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(store().find_account(std::string("plain\0x", 7), account), NERR_UserNotFound);
}
