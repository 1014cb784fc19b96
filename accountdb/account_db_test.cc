// The database file: creation, schema, path rules, failures and sharing
// between processes.
#include <cstdio>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/service_test_support.h"

namespace {

using AccountDbFile = AccountDbTest;

int query_int(const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(account_db_connection(), sql, -1, &statement, nullptr), SQLITE_OK);
    int value = -1;
    if (sqlite3_step(statement) == SQLITE_ROW)
        value = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    return value;
}

std::string query_text(const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(account_db_connection(), sql, -1, &statement, nullptr), SQLITE_OK);
    std::string value;
    if (sqlite3_step(statement) == SQLITE_ROW)
        value = column_text(statement, 0);
    sqlite3_finalize(statement);
    return value;
}

unsigned file_mode(const std::string &path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return 0xFFFF;
    return status.st_mode & 0777;
}

// Runs work in a child process with its own connection; true when the child
// exited with status 0.
template <typename Work>
bool in_child(Work work)
{
    pid_t child = fork();
    if (child == 0) {
        account_db_close();
        _exit(work() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(AccountDbFile, NewDatabaseHasSchemaVersionWalAndBuiltinGroups)
{
    EXPECT_EQ(query_int("PRAGMA user_version"), ACCOUNT_DB_SCHEMA_VERSION);
    EXPECT_EQ(query_text("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(query_int("PRAGMA synchronous"), 2);  // FULL

    ASSERT_EQ(add_user(u"member"), NERR_Success);
    EXPECT_EQ(join(u"Administrators", {u"member"}), NERR_Success);
    EXPECT_EQ(join(u"Users", {u"member"}), NERR_Success);
    EXPECT_EQ(join(u"Guests", {u"member"}), NERR_Success);
    EXPECT_EQ(query_int("SELECT count(*) FROM local_groups"), 3);
    std::int64_t minimum = -1;
    EXPECT_EQ(db_read_policy(POLICY_MIN_PASSWORD_LENGTH, minimum), NERR_Success);
    EXPECT_EQ(minimum, 0);
}

TEST_F(AccountDbFile, ReopeningKeepsAccountsAndDoesNotDuplicateGroups)
{
    ASSERT_EQ(add_user(u"kept"), NERR_Success);
    account_db_close();
    ASSERT_EQ(account_db_open(db_path.c_str()), NERR_Success);
    UserRecord user;
    EXPECT_EQ(db_find_user("kept", user), NERR_Success);
    EXPECT_EQ(query_int("SELECT count(*) FROM local_groups"), 3);
}

TEST_F(AccountDbFile, FilesAreOwnerOnlyWhateverTheUmask)
{
    account_db_close();
    std::string path = dir.file("open.db");
    mode_t saved = umask(0);
    DWORD opened = account_db_open(path.c_str());
    DWORD added = add_user(u"someone");
    umask(saved);
    ASSERT_EQ(opened, NERR_Success);
    ASSERT_EQ(added, NERR_Success);
    EXPECT_EQ(file_mode(path), 0600U);
    EXPECT_EQ(file_mode(path + "-wal"), 0600U);
    EXPECT_EQ(file_mode(path + "-shm"), 0600U);
}

TEST_F(AccountDbFile, FirstOperationOpensTheConfiguredFile)
{
    account_db_close();
    account_db_configure(dir.file("lodgate.db"));
    ASSERT_FALSE(file_exists(dir.file("lodgate.db")));

    EXPECT_EQ(add_user(u"configured"), NERR_Success);
    EXPECT_EQ(account_db_path(), dir.file("lodgate.db"));
    EXPECT_EQ(file_mode(dir.file("lodgate.db")), 0600U);
    account_db_configure("");
}

TEST_F(AccountDbFile, FileThatIsNoDatabaseFailsWithTraceAndIsRetried)
{
    account_db_close();
    std::string trace = start_trace();
    std::string path = dir.file("text.db");
    write_file(path, std::string(4096, 'x'));

    EXPECT_EQ(account_db_open(path.c_str()), NERR_InternalError);
    std::string log = read_file(trace);
    EXPECT_NE(log.find("ERROR account database " + path), std::string::npos) << log;
    EXPECT_NE(log.find("file is not a database"), std::string::npos) << log;

    // The process keeps serving: every operation fails the same way...
    LPBYTE buffer = reinterpret_cast<LPBYTE>(&path);
    EXPECT_EQ(NetUserGetInfo(nullptr, u"anyone", 1, &buffer), NERR_InternalError);
    EXPECT_EQ(buffer, nullptr);
    HANDLE token = &path;
    EXPECT_EQ(LogonUserW(u"anyone", nullptr, u"pw", 2, 0, &token), FALSE);
    EXPECT_EQ(GetLastError(), NERR_InternalError);
    EXPECT_EQ(token, nullptr);

    // ...until the file is a database again.
    std::remove(path.c_str());
    EXPECT_EQ(add_user(u"after"), NERR_Success);
}

TEST_F(AccountDbFile, MissingDirectoryIsTraced)
{
    account_db_close();
    std::string trace = start_trace();
    std::string path = dir.file("missing/accounts.db");
    EXPECT_EQ(account_db_open(path.c_str()), NERR_InternalError);
    EXPECT_EQ(add_user(u"nobody"), NERR_InternalError);
    std::string log = read_file(trace);
    EXPECT_NE(log.find("ERROR account database " + path + ": cannot create: No such file"),
              std::string::npos)
        << log;
}

TEST_F(AccountDbFile, NewerSchemaIsRefused)
{
    ASSERT_EQ(sqlite3_exec(account_db_connection(), "PRAGMA user_version=99", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    account_db_close();
    std::string trace = start_trace();
    EXPECT_EQ(account_db_open(db_path.c_str()), NERR_InternalError);
    EXPECT_NE(read_file(trace).find("newer version"), std::string::npos);
}

TEST_F(AccountDbFile, FullDiskFailsTheWriteAndKeepsServingReads)
{
    ASSERT_EQ(add_user(u"before"), NERR_Success);
    std::string trace = start_trace();
    int pages = query_int("PRAGMA page_count");
    std::string limit = "PRAGMA max_page_count=" + std::to_string(pages);
    ASSERT_EQ(sqlite3_exec(account_db_connection(), limit.c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK);

    DWORD status = NERR_Success;
    for (int i = 0; i < 200 && status == NERR_Success; ++i) {
        UserRecord user = stored_user("filler" + std::to_string(i));
        user.comment = std::string(250, 'c');
        status = db_insert_user(user);
    }
    EXPECT_EQ(status, NERR_InternalError);
    std::string log = read_file(trace);
    EXPECT_NE(log.find("ERROR account database " + db_path), std::string::npos) << log;
    EXPECT_NE(log.find("database or disk is full"), std::string::npos) << log;

    NetBuffer buffer;
    EXPECT_EQ(NetUserGetInfo(nullptr, u"before", 1, &buffer.data), NERR_Success);
    ASSERT_EQ(sqlite3_exec(account_db_connection(), "PRAGMA max_page_count=1000000", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(db_insert_user(stored_user("room-again")), NERR_Success);
}

TEST_F(AccountDbFile, SecondProcessSeesWhatTheFirstWrote)
{
    ASSERT_EQ(add_user(u"parent-made"), NERR_Success);
    account_db_close();
    std::string path = db_path;
    bool child_ok = in_child([&path] {
        if (account_db_open(path.c_str()) != NERR_Success)
            return false;
        NetBuffer buffer;
        if (NetUserGetInfo(nullptr, u"PARENT-MADE", 1, &buffer.data) != NERR_Success)
            return false;
        return narrow(buffer.users()->usri1_name) == "parent-made" &&
               add_user(u"child-made") == NERR_Success;
    });
    EXPECT_TRUE(child_ok);
    ASSERT_EQ(account_db_open(db_path.c_str()), NERR_Success);
    EXPECT_EQ(logon(u"child-made", u"Secret-1"), ERROR_SUCCESS);
}

// Both processes start on a file that does not exist yet and write at the
// same time; every write must succeed, none may see "database is locked".
TEST_F(AccountDbFile, TwoProcessesWritingAtOnceAllSucceed)
{
    account_db_close();
    std::string trace = start_trace();
    std::string path = dir.file("shared.db");
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    constexpr int USERS_EACH = 4;
    constexpr int UPDATES_EACH = 150;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        if (children[c] != 0)
            continue;
        close(gate[1]);
        char byte = 0;
        (void)read(gate[0], &byte, 1);  // returns when the parent closes the pipe
        account_db_close();
        if (account_db_open(path.c_str()) != NERR_Success)
            _exit(1);
        for (int i = 0; i < USERS_EACH; ++i) {
            std::u16string name = widen("p" + std::to_string(c) + "-" + std::to_string(i));
            if (add_user(name.c_str()) != NERR_Success)
                _exit(2);
        }
        for (int i = 0; i < UPDATES_EACH; ++i) {
            std::u16string name = widen("p" + std::to_string(c) + "-" + std::to_string(i % 4));
            std::u16string comment = widen("update " + std::to_string(i));
            USER_INFO_1 info = user_info(name.c_str(), nullptr);
            info.usri1_comment = comment.data();
            if (NetUserSetInfo(nullptr, name.c_str(), 1, reinterpret_cast<LPBYTE>(&info),
                               nullptr) != NERR_Success)
                _exit(3);
        }
        _exit(0);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    EXPECT_EQ(read_file(trace).find("ERROR"), std::string::npos) << read_file(trace);

    ASSERT_EQ(account_db_open(path.c_str()), NERR_Success);
    NetBuffer buffer;
    DWORD read = 0;
    DWORD total = 0;
    EXPECT_EQ(NetUserEnum(nullptr, 1, 0, &buffer.data, MAX_PREFERRED_LENGTH, &read, &total,
                          nullptr),
              NERR_Success);
    EXPECT_EQ(read, 2U * USERS_EACH);
}

}  // namespace

TEST_F(AccountDbFile, ChangeIsStoredWholeOrNotAtAll)
{
    ASSERT_EQ(add_user(u"old"), NERR_Success);
    // A process that ends inside the change, as a killed one does.
    EXPECT_TRUE(in_child([this] {
        if (account_db_open(db_path.c_str()) != NERR_Success)
            return false;
        begin_account_change();
        bool made = NetUserDel(nullptr, u"old") == NERR_Success &&
                    add_user(u"new") == NERR_Success && join(u"Guests", {u"new"}) == NERR_Success;
        _exit(made ? 0 : 1);
        return false;
    }));
    UserRecord user;
    EXPECT_EQ(db_find_user("old", user), NERR_Success);
    EXPECT_EQ(db_find_user("new", user), NERR_UserNotFound);

    // A call that fails inside the change undoes only its own work.
    begin_account_change();
    EXPECT_EQ(add_user(u"new"), NERR_Success);
    EXPECT_EQ(add_user(u"new"), NERR_UserExists);
    EXPECT_EQ(join(u"No Such Group", {u"new"}), NERR_GroupNotFound);
    EXPECT_EQ(end_account_change(), NERR_Success);
    EXPECT_EQ(db_find_user("new", user), NERR_Success);
    EXPECT_EQ(query_int("SELECT count(*) FROM user_accounts"), 2);
    EXPECT_EQ(end_account_change(), NERR_Success);  // none open
}
