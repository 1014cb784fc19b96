// Which stored hashes count as weak, and the rehash a logon makes of them.
#include <string>

#include <crypt.h>

#include "hashing/password_hash.h"
#include "tests/service_test_support.h"

namespace {

std::string hash_with(const char *password, const char *prefix, unsigned long cost = 0)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn(prefix, cost, nullptr, 0, setting, sizeof setting) == nullptr)
        return "";
    crypt_data area{};
    const char *out = crypt_rn(password, setting, &area, sizeof area);
    return out != nullptr ? out : "";
}

TEST(HashIsWeak, OlderMethodsAndCheaperYescryptAreWeakTheDefaultIsNot)
{
    for (const char *prefix : {"$1$", "$5$", "$6$", "$2b$", "$2y$"})
        EXPECT_TRUE(hash_is_weak(hash_with("pw", prefix).c_str())) << prefix;
    std::string current;
    ASSERT_EQ(hash_password("pw", current), 0);
    EXPECT_FALSE(hash_is_weak(current.c_str()));
    EXPECT_TRUE(hash_is_weak(hash_with("pw", "$y$", 3).c_str()));
    EXPECT_FALSE(hash_is_weak(hash_with("pw", "$y$", 7).c_str()));
    for (const char *locked : {"", "*", "!", "!$6$salt$x"})
        EXPECT_FALSE(hash_is_weak(locked)) << locked;
}

using HashUpgrade = AccountDbTest;

TEST_F(HashUpgrade, OnlyARightPasswordRehashesAndThePasswordAgeStays)
{
    UserRecord user = stored_user("old", hash_with("pw-old", "$6$"));
    user.password_set = 1000;
    ASSERT_EQ(db_insert_user(user), NERR_Success);
    EXPECT_EQ(logon(u"old", u"pw-wrong"), ERROR_LOGON_FAILURE);
    UserRecord before;
    ASSERT_EQ(db_find_user("old", before), NERR_Success);
    EXPECT_EQ(before.password_hash, user.password_hash);

    EXPECT_EQ(logon(u"old", u"pw-old"), ERROR_SUCCESS);
    UserRecord after;
    ASSERT_EQ(db_find_user("old", after), NERR_Success);
    EXPECT_EQ(after.password_hash.substr(0, 3), "$y$");
    EXPECT_FALSE(hash_is_weak(after.password_hash.c_str()));
    EXPECT_EQ(after.password_set, 1000);
    EXPECT_EQ(logon(u"old", u"pw-old"), ERROR_SUCCESS);
}

TEST(HashCost, SettingsAboveAboutFourDefaultChecksAreRefused)
{
    for (const char *cheap : {"$5$rounds=100000$salt$", "$6$salt$", "$2b$10$abcdefghijklmnopqrstuu",
                              "$y$j9T$abcdefgh$", "$y$jBT$abcdefgh$", "$1$abc$", "ab", "!$2b$17$x"})
        EXPECT_TRUE(hash_cost_is_bounded(cheap)) << cheap;
    for (const char *costly : {"$5$rounds=20000000$salt$", "$6$rounds=100001$salt$",
                               "$2b$17$abcdefghijklmnopqrstuu", "$y$jCT$abcdefgh$",
                               "$sha1$251388$abcdefgh$", "$7$CU..../....abcdefgh$",
                               "$md5,rounds=60000$abcdefgh$"})
        EXPECT_FALSE(hash_cost_is_bounded(costly)) << costly;
}

TEST_F(HashUpgrade, ATruncatingMatchIsNeverStoredAsTheWholePassword)
{
    std::string des = hash_with("password", "");
    ASSERT_TRUE(hash_is_des_family(des.c_str())) << des;
    ASSERT_EQ(db_insert_user(stored_user("des", des)), NERR_Success);
    EXPECT_EQ(logon(u"des", u"password-and-more"), ERROR_SUCCESS);
    UserRecord after;
    ASSERT_EQ(db_find_user("des", after), NERR_Success);
    EXPECT_EQ(after.password_hash, des);
    EXPECT_EQ(logon(u"des", u"password"), ERROR_SUCCESS);
}

}  // namespace
