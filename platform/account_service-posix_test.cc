// NetUserAdd, NetUserGetInfo, NetUserSetInfo, NetUserDel, NetUserEnum and
// NetLocalGroupAddMembers over a real database file.
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/service_test_support.h"

namespace {

using UserService = AccountDbTest;

std::string host_name()
{
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof host - 1);
    return host;
}

std::string upper_ascii(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The stored users' names in enumeration order, batch by batch of at most
// about prefmaxlen bytes.
struct EnumRun {
    std::vector<std::vector<std::string>> batches;
    std::vector<DWORD> results;
    std::vector<DWORD> totals;
};

EnumRun enumerate(DWORD prefmaxlen)
{
    EnumRun run;
    DWORD resume = 0;
    DWORD status = ERROR_MORE_DATA;
    for (int guard = 0; status == ERROR_MORE_DATA && guard < 100; ++guard) {
        NetBuffer buffer;
        DWORD read = 0;
        DWORD total = 0;
        status = NetUserEnum(nullptr, 1, FILTER_NORMAL_ACCOUNT, &buffer.data, prefmaxlen, &read,
                             &total, &resume);
        std::vector<std::string> names;
        for (DWORD i = 0; i < read; ++i)
            names.push_back(narrow(buffer.users()[i].usri1_name).value_or("?"));
        run.batches.push_back(names);
        run.results.push_back(status);
        run.totals.push_back(total);
    }
    return run;
}

void store_users(int count)
{
    std::vector<UserRecord> users;
    for (int i = 0; i < count; ++i)
        users.push_back(stored_user("user" + std::to_string(i)));
    ASSERT_EQ(db_insert_users(users.data(), users.size()), NERR_Success);
}

// Bytes of one enumerated entry whose only text is a name of that many
// ASCII characters.
std::size_t entry_size(std::size_t name_length)
{
    return sizeof(USER_INFO_1) + (name_length + 1) * sizeof(WCHAR);
}

TEST_F(UserService, AddedUserReadsBackWithEveryMemberAndNoPassword)
{
    USER_INFO_1 info = user_info(u"Alice", u"pa55word");
    info.usri1_priv = USER_PRIV_ADMIN;
    info.usri1_home_dir = wide(u"/home/alice");
    info.usri1_comment = wide(u"Alice Ärger – ☃ 𝄞");
    info.usri1_flags = UF_SCRIPT | UF_NORMAL_ACCOUNT | UF_DONT_EXPIRE_PASSWD;
    info.usri1_script_path = wide(u"logon.cmd");
    info.usri1_password_age = 12345;  // ignored
    DWORD parm_err = 99;
    ASSERT_EQ(NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &parm_err), NERR_Success);
    EXPECT_EQ(parm_err, 99U);

    NetBuffer buffer;
    ASSERT_EQ(NetUserGetInfo(nullptr, u"Alice", 1, &buffer.data), NERR_Success);
    const USER_INFO_1 &read = *buffer.users();
    EXPECT_EQ(narrow(read.usri1_name), "Alice");
    EXPECT_EQ(read.usri1_password, nullptr);
    EXPECT_LE(read.usri1_password_age, 5U);
    EXPECT_EQ(read.usri1_priv, USER_PRIV_ADMIN);
    EXPECT_EQ(narrow(read.usri1_home_dir), "/home/alice");
    EXPECT_EQ(std::u16string(read.usri1_comment), u"Alice Ärger – ☃ 𝄞");
    EXPECT_EQ(read.usri1_flags, UF_SCRIPT | UF_NORMAL_ACCOUNT | UF_DONT_EXPIRE_PASSWD);
    EXPECT_EQ(narrow(read.usri1_script_path), "logon.cmd");

    UserRecord stored;
    ASSERT_EQ(db_find_user("alice", stored), NERR_Success);
    EXPECT_EQ(stored.password_hash.rfind("$y$", 0), 0U) << stored.password_hash;
}

TEST_F(UserService, PasswordAgeCountsFromWhenThePasswordWasSet)
{
    UserRecord user = stored_user("aged");
    user.password_set = account_clock() - 1000;
    ASSERT_EQ(db_insert_user(user), NERR_Success);
    NetBuffer buffer;
    ASSERT_EQ(NetUserGetInfo(nullptr, u"aged", 1, &buffer.data), NERR_Success);
    EXPECT_GE(buffer.users()->usri1_password_age, 1000U);
    EXPECT_LE(buffer.users()->usri1_password_age, 1005U);
}

TEST_F(UserService, AbsentAndEmptyTextsStayApart)
{
    USER_INFO_1 info = user_info(u"texts");
    info.usri1_home_dir = nullptr;
    info.usri1_comment = wide(u"");
    info.usri1_script_path = wide(u"s");
    ASSERT_EQ(NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr), NERR_Success);
    {
        NetBuffer buffer;
        ASSERT_EQ(NetUserGetInfo(nullptr, u"texts", 1, &buffer.data), NERR_Success);
        EXPECT_EQ(buffer.users()->usri1_home_dir, nullptr);
        ASSERT_NE(buffer.users()->usri1_comment, nullptr);
        EXPECT_EQ(buffer.users()->usri1_comment[0], 0);
        EXPECT_EQ(narrow(buffer.users()->usri1_script_path), "s");
    }
    info.usri1_home_dir = wide(u"");
    info.usri1_comment = nullptr;
    info.usri1_script_path = nullptr;
    ASSERT_EQ(NetUserSetInfo(nullptr, u"texts", 1, reinterpret_cast<LPBYTE>(&info), nullptr),
              NERR_Success);
    NetBuffer buffer;
    ASSERT_EQ(NetUserGetInfo(nullptr, u"texts", 1, &buffer.data), NERR_Success);
    ASSERT_NE(buffer.users()->usri1_home_dir, nullptr);
    EXPECT_EQ(buffer.users()->usri1_home_dir[0], 0);
    EXPECT_EQ(buffer.users()->usri1_comment, nullptr);
    EXPECT_EQ(buffer.users()->usri1_script_path, nullptr);
}

TEST_F(UserService, NamesAreCaseInsensitiveAndCasePreserving)
{
    ASSERT_EQ(add_user(u"MixedCase"), NERR_Success);
    EXPECT_EQ(add_user(u"mIXEDcASE"), NERR_UserExists);
    NetBuffer buffer;
    ASSERT_EQ(NetUserGetInfo(nullptr, u"MIXEDCASE", 1, &buffer.data), NERR_Success);
    EXPECT_EQ(narrow(buffer.users()->usri1_name), "MixedCase");

    ASSERT_EQ(add_user(u"Müller-Ŀőŵ-Ωμέγα-Дёма"), NERR_Success);
    NetBuffer other;
    EXPECT_EQ(NetUserGetInfo(nullptr, u"MÜLLER-ĿŐŴ-ΩΜΈΓΑ-ДЁМА", 1, &other.data), NERR_Success);
    EXPECT_EQ(add_user(u"müller-ŀőŵ-ωμέγα-дёма"), NERR_UserExists);
    // Outside the folded scripts names match exactly.
    EXPECT_EQ(add_user(u"straße"), NERR_Success);
    EXPECT_EQ(add_user(u"STRASSE"), NERR_Success);
    EXPECT_EQ(add_user(u"ﬀ"), NERR_Success);
    EXPECT_EQ(add_user(u"FF"), NERR_Success);
}

TEST_F(UserService, UsersAndGroupsShareOneNamespace)
{
    EXPECT_EQ(add_user(u"administrators"), NERR_GroupExists);
    EXPECT_EQ(add_user(u"USERS"), NERR_GroupExists);
    ASSERT_EQ(add_user(u"taken"), NERR_Success);
    EXPECT_EQ(add_user(u"taken"), NERR_UserExists);
    std::vector<UserRecord> pair{stored_user("twin"), stored_user("TWIN")};
    EXPECT_EQ(db_insert_users(pair.data(), pair.size()), NERR_UserExists);
    UserRecord none;
    EXPECT_EQ(db_find_user("twin", none), NERR_UserNotFound);  // all or none
}

struct MemberCase {
    const char *what;
    void (*change)(USER_INFO_1 &info);
    DWORD expected;  // parm_err, 0 for success
};

const std::u16string TEXT_256(256, u'x');
const std::u16string TEXT_257(257, u'x');
const std::u16string EURO_PASSWORD(171, u'€');  // 171 units, 513 bytes
const std::u16string CJK_510(170, u'漢');        // 510 bytes, what a reply carries
const std::u16string CJK_513(171, u'漢');

const MemberCase MEMBER_CASES[] = {
    {"name of 256", [](USER_INFO_1 &i) { i.usri1_name = const_cast<LPWSTR>(TEXT_256.c_str()); }, 0},
    {"name of 257", [](USER_INFO_1 &i) { i.usri1_name = const_cast<LPWSTR>(TEXT_257.c_str()); }, 1},
    {"no name", [](USER_INFO_1 &i) { i.usri1_name = nullptr; }, 1},
    {"empty name", [](USER_INFO_1 &i) { i.usri1_name = wide(u""); }, 1},
    {"tab in name", [](USER_INFO_1 &i) { i.usri1_name = wide(u"a\tb"); }, 1},
    {"DEL in name", [](USER_INFO_1 &i) { i.usri1_name = wide(u"a\x7f"); }, 1},
    {"C1 in name", [](USER_INFO_1 &i) { i.usri1_name = wide(u"a\x85"); }, 1},
    {"lone surrogate in name", [](USER_INFO_1 &i) { i.usri1_name = wide(u"a\xD800"); }, 1},
    {"password of 256",
     [](USER_INFO_1 &i) { i.usri1_password = const_cast<LPWSTR>(TEXT_256.c_str()); }, 0},
    {"password of 257",
     [](USER_INFO_1 &i) { i.usri1_password = const_cast<LPWSTR>(TEXT_257.c_str()); }, 2},
    {"password over 511 bytes",
     [](USER_INFO_1 &i) { i.usri1_password = const_cast<LPWSTR>(EURO_PASSWORD.c_str()); }, 2},
    {"lone surrogate in password", [](USER_INFO_1 &i) { i.usri1_password = wide(u"\xDC00"); },
     2},
    {"priv guest", [](USER_INFO_1 &i) { i.usri1_priv = USER_PRIV_GUEST; }, 0},
    {"priv 3", [](USER_INFO_1 &i) { i.usri1_priv = 3; }, 4},
    {"home of 256",
     [](USER_INFO_1 &i) { i.usri1_home_dir = const_cast<LPWSTR>(TEXT_256.c_str()); }, 0},
    {"home of 257",
     [](USER_INFO_1 &i) { i.usri1_home_dir = const_cast<LPWSTR>(TEXT_257.c_str()); }, 5},
    {"comment of 257",
     [](USER_INFO_1 &i) { i.usri1_comment = const_cast<LPWSTR>(TEXT_257.c_str()); }, 6},
    {"lone surrogate in comment", [](USER_INFO_1 &i) { i.usri1_comment = wide(u"\xDBFF!"); }, 6},
    {"flags without normal account", [](USER_INFO_1 &i) { i.usri1_flags = UF_SCRIPT; }, 7},
    {"flags of a workstation account",
     [](USER_INFO_1 &i) { i.usri1_flags = UF_NORMAL_ACCOUNT | 0x1000; }, 7},
    {"script of 256",
     [](USER_INFO_1 &i) { i.usri1_script_path = const_cast<LPWSTR>(TEXT_256.c_str()); }, 0},
    {"script of 257",
     [](USER_INFO_1 &i) { i.usri1_script_path = const_cast<LPWSTR>(TEXT_257.c_str()); }, 8},
    {"space in name", [](USER_INFO_1 &i) { i.usri1_name = wide(u"a b"); }, 1},
    {"quote in name", [](USER_INFO_1 &i) { i.usri1_name = wide(u"a\"b"); }, 1},
    {"equals sign in name", [](USER_INFO_1 &i) { i.usri1_name = wide(u"a=b"); }, 1},
    {"quote in home", [](USER_INFO_1 &i) { i.usri1_home_dir = wide(u"/h\" x=\""); }, 5},
    {"forged field in comment",
     [](USER_INFO_1 &i) { i.usri1_comment = wide(u"Evil\" home=\"/etc/shadow"); }, 6},
    {"line feed in comment", [](USER_INFO_1 &i) { i.usri1_comment = wide(u"a\nb"); }, 6},
    {"DEL in script", [](USER_INFO_1 &i) { i.usri1_script_path = wide(u"a\x7f"); }, 8},
    {"comment of 510 bytes",
     [](USER_INFO_1 &i) { i.usri1_comment = const_cast<LPWSTR>(CJK_510.c_str()); }, 0},
    {"comment of 513 bytes",
     [](USER_INFO_1 &i) { i.usri1_comment = const_cast<LPWSTR>(CJK_513.c_str()); }, 6},
    {"first fault wins",
     [](USER_INFO_1 &i) {
         i.usri1_priv = 7;
         i.usri1_script_path = const_cast<LPWSTR>(TEXT_257.c_str());
     },
     4},
};

TEST_F(UserService, AddChecksEachMemberAndNamesTheFaultyOne)
{
    int n = 0;
    for (const MemberCase &c : MEMBER_CASES) {
        std::u16string name = widen("member" + std::to_string(n++));
        USER_INFO_1 info = user_info(name.c_str());
        c.change(info);
        DWORD parm_err = 0;
        DWORD status = NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &parm_err);
        if (c.expected == 0) {
            EXPECT_EQ(status, NERR_Success) << c.what;
        } else {
            EXPECT_EQ(status, ERROR_INVALID_PARAMETER) << c.what;
            EXPECT_EQ(parm_err, c.expected) << c.what;
        }
    }
}

TEST_F(UserService, SetInfoChecksMembersButIgnoresTheName)
{
    ASSERT_EQ(add_user(u"target"), NERR_Success);
    for (const MemberCase &c : MEMBER_CASES) {
        USER_INFO_1 info = user_info(u"target", nullptr);
        c.change(info);
        DWORD parm_err = 0;
        DWORD status =
            NetUserSetInfo(nullptr, u"target", 1, reinterpret_cast<LPBYTE>(&info), &parm_err);
        if (c.expected <= 1) {
            EXPECT_EQ(status, NERR_Success) << c.what;
        } else {
            EXPECT_EQ(status, ERROR_INVALID_PARAMETER) << c.what;
            EXPECT_EQ(parm_err, c.expected) << c.what;
        }
    }
}

TEST_F(UserService, MinimumPasswordLengthFromTheDatabase)
{
    EXPECT_EQ(add_user(u"blank", u""), NERR_PasswordTooShort);  // whatever the minimum
    ASSERT_EQ(db_write_policy(POLICY_MIN_PASSWORD_LENGTH, 8), NERR_Success);
    EXPECT_EQ(add_user(u"short", u"1234567"), NERR_PasswordTooShort);
    EXPECT_EQ(add_user(u"short", u"€€€€€€€"), NERR_PasswordTooShort);  // characters, not bytes
    EXPECT_EQ(add_user(u"long", u"12345678"), NERR_Success);

    USER_INFO_1 info = user_info(u"ignored", u"1234");
    EXPECT_EQ(NetUserSetInfo(nullptr, u"long", 1, reinterpret_cast<LPBYTE>(&info), nullptr),
              NERR_PasswordTooShort);
    info.usri1_password = nullptr;
    EXPECT_EQ(NetUserSetInfo(nullptr, u"long", 1, reinterpret_cast<LPBYTE>(&info), nullptr),
              NERR_Success);
    EXPECT_EQ(logon(u"long", u"12345678"), ERROR_SUCCESS);
}

TEST_F(UserService, SetInfoUpdatesMembersAndPasswordOnlyWhenGiven)
{
    ASSERT_EQ(add_user(u"changing", u"first-pw"), NERR_Success);
    USER_INFO_1 info = user_info(u"some other name", nullptr);
    info.usri1_priv = USER_PRIV_GUEST;
    info.usri1_comment = wide(u"changed");
    info.usri1_flags = UF_SCRIPT | UF_NORMAL_ACCOUNT | UF_ACCOUNTDISABLE;
    ASSERT_EQ(NetUserSetInfo(nullptr, u"CHANGING", 1, reinterpret_cast<LPBYTE>(&info), nullptr),
              NERR_Success);
    {
        NetBuffer buffer;
        ASSERT_EQ(NetUserGetInfo(nullptr, u"changing", 1, &buffer.data), NERR_Success);
        EXPECT_EQ(narrow(buffer.users()->usri1_name), "changing");
        EXPECT_EQ(buffer.users()->usri1_priv, USER_PRIV_GUEST);
        EXPECT_EQ(narrow(buffer.users()->usri1_comment), "changed");
        EXPECT_EQ(buffer.users()->usri1_flags & UF_ACCOUNTDISABLE, UF_ACCOUNTDISABLE);
    }
    EXPECT_EQ(logon(u"changing", u"first-pw"), ERROR_LOGON_FAILURE);

    info.usri1_flags = UF_SCRIPT | UF_NORMAL_ACCOUNT;
    info.usri1_password = wide(u"second-pw");
    ASSERT_EQ(NetUserSetInfo(nullptr, u"changing", 1, reinterpret_cast<LPBYTE>(&info), nullptr),
              NERR_Success);
    EXPECT_EQ(logon(u"changing", u"first-pw"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"changing", u"second-pw"), ERROR_SUCCESS);
}

TEST_F(UserService, MissingUsersAreNotFound)
{
    USER_INFO_1 info = user_info(u"ghost");
    LPBYTE buffer = reinterpret_cast<LPBYTE>(&info);
    EXPECT_EQ(NetUserGetInfo(nullptr, u"ghost", 1, &buffer), NERR_UserNotFound);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(NetUserGetInfo(nullptr, u"", 1, &buffer), NERR_UserNotFound);
    EXPECT_EQ(NetUserSetInfo(nullptr, u"ghost", 1, reinterpret_cast<LPBYTE>(&info), nullptr),
              NERR_UserNotFound);
    EXPECT_EQ(NetUserDel(nullptr, u"ghost"), NERR_UserNotFound);
}

TEST_F(UserService, DeleteRemovesTheAccountAndItsMemberships)
{
    ASSERT_EQ(add_user(u"leaving"), NERR_Success);
    ASSERT_EQ(join(u"Users", {u"leaving"}), NERR_Success);
    EXPECT_EQ(NetUserDel(nullptr, u"LEAVING"), NERR_Success);
    EXPECT_EQ(NetUserDel(nullptr, u"leaving"), NERR_UserNotFound);
    EXPECT_EQ(logon(u"leaving", u"Secret-1"), ERROR_LOGON_FAILURE);
    ASSERT_EQ(add_user(u"leaving"), NERR_Success);
    EXPECT_EQ(join(u"Users", {u"leaving"}), NERR_Success);
}

TEST_F(UserService, OnlyLevelOneUsersAndLevelThreeMembers)
{
    ASSERT_EQ(add_user(u"levels"), NERR_Success);
    USER_INFO_1 info = user_info(u"other");
    LPBYTE buffer = reinterpret_cast<LPBYTE>(&info);
    DWORD read = 7;
    DWORD total = 7;
    for (DWORD level : {0U, 2U, 3U}) {
        EXPECT_EQ(NetUserGetInfo(nullptr, u"levels", level, &buffer), ERROR_INVALID_LEVEL);
        EXPECT_EQ(buffer, nullptr);
        buffer = reinterpret_cast<LPBYTE>(&info);
        EXPECT_EQ(NetUserEnum(nullptr, level, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total,
                              nullptr),
                  ERROR_INVALID_LEVEL);
        EXPECT_EQ(buffer, nullptr);
        EXPECT_EQ(read, 0U);
        buffer = reinterpret_cast<LPBYTE>(&info);
        EXPECT_EQ(NetUserAdd(nullptr, level, reinterpret_cast<LPBYTE>(&info), nullptr),
                  ERROR_INVALID_LEVEL);
        EXPECT_EQ(NetUserSetInfo(nullptr, u"levels", level, reinterpret_cast<LPBYTE>(&info),
                                 nullptr),
                  ERROR_INVALID_LEVEL);
    }
    LOCALGROUP_MEMBERS_INFO_3 member{wide(u"levels")};
    EXPECT_EQ(NetLocalGroupAddMembers(nullptr, u"Users", 1, reinterpret_cast<LPBYTE>(&member), 1),
              ERROR_INVALID_LEVEL);
    EXPECT_EQ(NetUserEnum(nullptr, 1, 1, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(UserService, EnumerationFollowsCreationOrder)
{
    for (const char16_t *name : {u"charlie", u"alpha", u"Bravo"})
        ASSERT_EQ(add_user(name), NERR_Success);
    NetBuffer buffer;
    DWORD read = 0;
    DWORD total = 0;
    DWORD resume = 0;
    ASSERT_EQ(NetUserEnum(nullptr, 1, 0, &buffer.data, MAX_PREFERRED_LENGTH, &read, &total,
                          &resume),
              NERR_Success);
    ASSERT_EQ(read, 3U);
    EXPECT_EQ(total, 3U);
    EXPECT_EQ(resume, 0U);
    EXPECT_EQ(narrow(buffer.users()[0].usri1_name), "charlie");
    EXPECT_EQ(narrow(buffer.users()[1].usri1_name), "alpha");
    EXPECT_EQ(narrow(buffer.users()[2].usri1_name), "Bravo");
    EXPECT_EQ(buffer.users()[2].usri1_password, nullptr);
    EXPECT_EQ(buffer.users()[2].usri1_flags, UF_SCRIPT | UF_NORMAL_ACCOUNT);
}

TEST_F(UserService, EnumerationInBatchesResumesWhereItStopped)
{
    store_users(10);  // user0 .. user9: names of 5 characters
    EnumRun run = enumerate(static_cast<DWORD>(3 * entry_size(5)));
    ASSERT_EQ(run.batches.size(), 4U);
    EXPECT_EQ(run.batches[0], (std::vector<std::string>{"user0", "user1", "user2"}));
    EXPECT_EQ(run.batches[3], (std::vector<std::string>{"user9"}));
    EXPECT_EQ(run.results, (std::vector<DWORD>{ERROR_MORE_DATA, ERROR_MORE_DATA, ERROR_MORE_DATA,
                                               NERR_Success}));
    EXPECT_EQ(run.totals, (std::vector<DWORD>{10, 7, 4, 1}));

    std::vector<std::string> all;
    for (const auto &batch : run.batches)
        all.insert(all.end(), batch.begin(), batch.end());
    ASSERT_EQ(all.size(), 10U);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(all[i], "user" + std::to_string(i));
}

TEST_F(UserService, EveryBatchHoldsAtLeastOneEntry)
{
    store_users(3);
    EnumRun run = enumerate(1);
    ASSERT_EQ(run.batches.size(), 3U);
    for (const auto &batch : run.batches)
        EXPECT_EQ(batch.size(), 1U);
    EXPECT_EQ(run.results.back(), NERR_Success);
}

TEST_F(UserService, EnumerationResumesAcrossDeletions)
{
    store_users(8);
    DWORD resume = 0;
    DWORD read = 0;
    DWORD total = 0;
    {
        NetBuffer buffer;
        ASSERT_EQ(NetUserEnum(nullptr, 1, 0, &buffer.data, static_cast<DWORD>(3 * entry_size(5)),
                              &read, &total, &resume),
                  ERROR_MORE_DATA);
        ASSERT_EQ(read, 3U);
    }
    // The last one returned and the next one both go.
    ASSERT_EQ(NetUserDel(nullptr, u"user2"), NERR_Success);
    ASSERT_EQ(NetUserDel(nullptr, u"user3"), NERR_Success);
    ASSERT_EQ(add_user(u"late"), NERR_Success);
    NetBuffer buffer;
    ASSERT_EQ(NetUserEnum(nullptr, 1, 0, &buffer.data, MAX_PREFERRED_LENGTH, &read, &total,
                          &resume),
              NERR_Success);
    std::vector<std::string> names;
    for (DWORD i = 0; i < read; ++i)
        names.push_back(*narrow(buffer.users()[i].usri1_name));
    EXPECT_EQ(names, (std::vector<std::string>{"user4", "user5", "user6", "user7", "late"}));
    EXPECT_EQ(total, 5U);
}

// A handle that counted entries instead of naming the last one would repeat
// or skip users here: there is a gap before the batch ends and a deletion
// among the users already returned.
TEST_F(UserService, ResumeHandleNamesTheLastUserReturned)
{
    store_users(8);
    ASSERT_EQ(NetUserDel(nullptr, u"user1"), NERR_Success);
    DWORD resume = 0;
    DWORD read = 0;
    DWORD total = 0;
    {
        NetBuffer buffer;
        ASSERT_EQ(NetUserEnum(nullptr, 1, 0, &buffer.data, static_cast<DWORD>(3 * entry_size(5)),
                              &read, &total, &resume),
                  ERROR_MORE_DATA);
        ASSERT_EQ(read, 3U);
        EXPECT_EQ(narrow(buffer.users()[2].usri1_name), "user3");
    }
    ASSERT_EQ(NetUserDel(nullptr, u"user0"), NERR_Success);
    ASSERT_EQ(NetUserDel(nullptr, u"user4"), NERR_Success);
    NetBuffer buffer;
    ASSERT_EQ(NetUserEnum(nullptr, 1, 0, &buffer.data, MAX_PREFERRED_LENGTH, &read, &total,
                          &resume),
              NERR_Success);
    std::vector<std::string> names;
    for (DWORD i = 0; i < read; ++i)
        names.push_back(*narrow(buffer.users()[i].usri1_name));
    EXPECT_EQ(names, (std::vector<std::string>{"user5", "user6", "user7"}));
}

TEST_F(UserService, EmptyDatabaseEnumeratesNothing)
{
    USER_INFO_1 info{};
    LPBYTE buffer = reinterpret_cast<LPBYTE>(&info);
    DWORD read = 9;
    DWORD total = 9;
    EXPECT_EQ(NetUserEnum(nullptr, 1, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
              NERR_Success);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(read, 0U);
    EXPECT_EQ(total, 0U);
}

TEST_F(UserService, GroupJoinAnswersEachCase)
{
    ASSERT_EQ(add_user(u"joiner"), NERR_Success);
    ASSERT_EQ(add_user(u"second"), NERR_Success);
    EXPECT_EQ(join(u"users", {u"JOINER"}), NERR_Success);
    EXPECT_EQ(join(u"Users", {u"joiner"}), ERROR_MEMBER_IN_ALIAS);
    EXPECT_EQ(join(u"Nobodies", {u"joiner"}), NERR_GroupNotFound);
    EXPECT_EQ(join(u"Nobodies", {u"ghost"}), NERR_GroupNotFound);
    EXPECT_EQ(join(u"Users", {u"ghost"}), ERROR_NO_SUCH_MEMBER);
    EXPECT_EQ(join(u"Users", {u"Guests"}), ERROR_INVALID_MEMBER);
    EXPECT_EQ(join(u"Users", {}), NERR_Success);
}

TEST_F(UserService, GroupJoinIsOneTransaction)
{
    ASSERT_EQ(add_user(u"first"), NERR_Success);
    ASSERT_EQ(add_user(u"second"), NERR_Success);
    EXPECT_EQ(join(u"Guests", {u"first", u"ghost"}), ERROR_NO_SUCH_MEMBER);
    EXPECT_EQ(join(u"Guests", {u"second", u"SECOND"}), ERROR_MEMBER_IN_ALIAS);
    // Neither call left a member behind.
    EXPECT_EQ(join(u"Guests", {u"first", u"second"}), NERR_Success);
}

TEST_F(UserService, MembersMayNameThisComputer)
{
    ASSERT_EQ(add_user(u"local"), NERR_Success);
    std::u16string qualified = widen(upper_ascii(host_name()) + "\\local");
    EXPECT_EQ(join(u"Users", {qualified.c_str()}), NERR_Success);
    EXPECT_EQ(join(u"Guests", {u".\\local"}), NERR_Success);
    EXPECT_EQ(join(u"Administrators", {u"elsewhere\\local"}), ERROR_NO_SUCH_MEMBER);
}

struct ServerCase {
    std::u16string server;
    DWORD expected;
};

std::vector<ServerCase> server_cases()
{
    std::string host = host_name();
    return {
        {u"", NERR_Success},
        {widen("\\\\" + host), NERR_Success},
        {widen("\\\\" + upper_ascii(host)), NERR_Success},
        {widen(host), NERR_Success},
        {u"localhost", NERR_Success},
        {u"\\\\LocalHost", NERR_Success},
        {u"127.0.0.1", NERR_Success},
        {u"\\\\127.0.0.1", NERR_Success},
        {u".", NERR_Success},
        {u"\\\\.", NERR_Success},
        {u"\\\\", NERR_InvalidComputer},
        {u"\\\\a b", NERR_InvalidComputer},
        {u"\\\\a/b", NERR_InvalidComputer},
        {u"\\\\a\\b", NERR_InvalidComputer},
        {u"\\host", NERR_InvalidComputer},
        {u"\\\\a\nb", NERR_InvalidComputer},
        {u"\\\\\xD800", NERR_InvalidComputer},
        {u"\\\\no-such-computer", ERROR_BAD_NETPATH},
        {u"no-such-computer", ERROR_BAD_NETPATH},
    };
}

TEST_F(UserService, ServerNamesMeanThisComputerOrFail)
{
    ASSERT_EQ(add_user(u"served"), NERR_Success);
    NetBuffer buffer;
    EXPECT_EQ(NetUserGetInfo(nullptr, u"served", 1, &buffer.data), NERR_Success);
    for (const ServerCase &c : server_cases()) {
        std::string shown = narrow(c.server.c_str()).value_or("(bad UTF-16)");
        NetBuffer info;
        EXPECT_EQ(NetUserGetInfo(c.server.c_str(), u"served", 1, &info.data), c.expected)
            << shown;
        if (c.expected == NERR_Success)
            continue;
        // Every function checks the name before anything else.
        USER_INFO_1 record = user_info(u"unused");
        DWORD read = 0;
        DWORD total = 0;
        EXPECT_EQ(NetUserEnum(c.server.c_str(), 1, 0, &info.data, MAX_PREFERRED_LENGTH, &read,
                              &total, nullptr),
                  c.expected)
            << shown;
        EXPECT_EQ(NetUserAdd(c.server.c_str(), 1, reinterpret_cast<LPBYTE>(&record), nullptr),
                  c.expected)
            << shown;
        EXPECT_EQ(NetUserSetInfo(c.server.c_str(), u"served", 1,
                                 reinterpret_cast<LPBYTE>(&record), nullptr),
                  c.expected)
            << shown;
        EXPECT_EQ(NetUserDel(c.server.c_str(), u"served"), c.expected) << shown;
        LOCALGROUP_MEMBERS_INFO_3 member{wide(u"served")};
        EXPECT_EQ(NetLocalGroupAddMembers(c.server.c_str(), u"Users",
                                          3, reinterpret_cast<LPBYTE>(&member), 1),
                  c.expected)
            << shown;
    }
    // No add, change or delete went through.
    EXPECT_EQ(logon(u"unused", u"Secret-1"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"served", u"Secret-1"), ERROR_SUCCESS);
}

}  // namespace
