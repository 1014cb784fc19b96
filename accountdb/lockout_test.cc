// The lockout policy as LogonUserW applies it, on a fixed clock.
#include <sys/stat.h>

#include "hashing/password_hash.h"
#include "tests/service_test_support.h"

namespace {

constexpr std::int64_t START = 1700000000;

struct Lockout : AccountDbTest {
    void SetUp() override
    {
        AccountDbTest::SetUp();
        account_clock_fixed = START;
        ASSERT_EQ(add_user(u"ann", u"right"), NERR_Success);
    }
    void TearDown() override
    {
        account_clock_fixed = 0;
        AccountDbTest::TearDown();
    }
    void set_policy(std::int64_t threshold, std::int64_t window, std::int64_t duration)
    {
        ASSERT_EQ(db_write_policy(POLICY_LOCKOUT_THRESHOLD, threshold), NERR_Success);
        ASSERT_EQ(db_write_policy(POLICY_LOCKOUT_WINDOW, window), NERR_Success);
        ASSERT_EQ(db_write_policy(POLICY_LOCKOUT_DURATION, duration), NERR_Success);
    }
    UserRecord ann()
    {
        UserRecord user;
        EXPECT_EQ(db_find_user("ann", user), NERR_Success);
        return user;
    }
};

TEST_F(Lockout, OffForANewDatabaseHoweverManyFailures)
{
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_SUCCESS);
    EXPECT_EQ(ann().locked_until, 0);
}

TEST_F(Lockout, ThresholdLocksEvenTheRightPasswordUntilTheDurationEnds)
{
    set_policy(3, 600, 900);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(ann().locked_until, 0);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(ann().locked_until, START + 900);
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);

    account_clock_fixed = START + 899;
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_LOGON_FAILURE);
    account_clock_fixed = START + 900;
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_SUCCESS);
    UserRecord after = ann();
    EXPECT_EQ(after.failed_logons, 0);
    EXPECT_EQ(after.locked_until, 0);
    // The count starts again from nothing.
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_SUCCESS);
}

TEST_F(Lockout, FailuresOutsideTheWindowStartANewCount)
{
    set_policy(2, 60, 900);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    account_clock_fixed = START + 60;
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(ann().failed_logons, 1);
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_SUCCESS);
    account_clock_fixed = START + 100;
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    account_clock_fixed = START + 159;
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_LOGON_FAILURE);
}

TEST_F(Lockout, ANewPasswordClearsTheLock)
{
    set_policy(1, 600, 900);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_LOGON_FAILURE);
    USER_INFO_1 info = user_info(u"ann", u"fresh");
    ASSERT_EQ(NetUserSetInfo(nullptr, u"ann", 1, reinterpret_cast<LPBYTE>(&info), nullptr),
              NERR_Success);
    EXPECT_EQ(logon(u"ann", u"fresh"), ERROR_SUCCESS);
}

TEST_F(Lockout, GuessesStillHashingTakeTheAllowedAttemptsSoNoLaterGuessIsVerified)
{
    set_policy(3, 600, 900);
    LockoutPolicy policy;
    ASSERT_EQ(db_read_lockout_policy(policy), NERR_Success);
    for (int i = 0; i < 3; ++i) {
        LogonAttempt attempt;
        ASSERT_EQ(db_count_logon_attempt(ann().id, policy, START, attempt), NERR_Success);
        EXPECT_TRUE(attempt.admitted);
    }
    PasswordCounters before = password_counters;
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(password_counters.crypt_calls - before.crypt_calls, 1);
    EXPECT_EQ(password_counters.dummy_verifies - before.dummy_verifies, 1);
    EXPECT_EQ(ann().locked_until, START + 900);
}

TEST_F(Lockout, TheRightPasswordOnTheLastAllowedAttemptGetsIn)
{
    set_policy(3, 600, 900);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_SUCCESS);
    EXPECT_EQ(ann().failed_logons, 0);
    EXPECT_EQ(ann().locked_until, 0);
}

TEST_F(Lockout, AnAttemptThatCannotBeCountedFailsClosedAndSaysWhy)
{
    set_policy(3, 600, 900);
    std::string trace = start_trace();
    ASSERT_EQ(sqlite3_exec(account_db_connection(), "PRAGMA query_only=1", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"nobody", u"right"), ERROR_LOGON_FAILURE);
    EXPECT_NE(read_file(trace).find("ERROR"), std::string::npos);
}

// SQLite writes no page whose bytes stay the same, and a commit that writes
// none does not sync: a refused attempt must still sync a page, or it would
// be answered a sync sooner than a wrong password.
TEST_F(Lockout, EveryRefusedAttemptWritesWhatAWrongPasswordWrites)
{
    set_policy(2, 600, 900);
    std::string wal = account_db_path() + "-wal";
    auto written = [&wal](const char16_t *name, const char16_t *password) {
        struct stat before {}, after {};
        EXPECT_EQ(stat(wal.c_str(), &before), 0);
        EXPECT_EQ(logon(name, password), ERROR_LOGON_FAILURE);
        EXPECT_EQ(stat(wal.c_str(), &after), 0);
        return after.st_size - before.st_size;
    };
    off_t wrong = written(u"ann", u"wrong");
    EXPECT_GT(wrong, 0);
    EXPECT_EQ(written(u"ann", u"wrong"), wrong);  // and locks
    EXPECT_EQ(written(u"ann", u"right"), wrong);
    EXPECT_EQ(written(u"nobody", u"right"), wrong);
}

TEST_F(Lockout, OffAFailedOrRightCheckWritesNothing)
{
    sqlite3 *connection = account_db_connection();
    sqlite3_int64 changes = sqlite3_total_changes64(connection);
    EXPECT_EQ(logon(u"ann", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"nobody", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(logon(u"ann", u"right"), ERROR_SUCCESS);
    EXPECT_EQ(sqlite3_total_changes64(connection), changes);
}

}  // namespace
