// lodgate-admin run as a child process against databases in temporary
// directories; what it stores is read back through the module's service.
#include <cstdio>
#include <string>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <crypt.h>
#include <gtest/gtest.h>

#include "accountdb/account_db.h"
#include "tests/service_test_support.h"
#include "accountdb/user_records.h"
#include "platform/account_service.h"
#include "tests/test_support.h"

namespace {

std::string crypt_with(const char *password, const char *prefix)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn(prefix, 0, nullptr, 0, setting, sizeof setting) == nullptr)
        return "";
    crypt_data area{};
    const char *out = crypt_rn(password, setting, &area, sizeof area);
    return out != nullptr ? out : "";
}

struct AdminRun {
    int status = -1;
    std::string out;
    std::string err;
};

struct AdminTest : ::testing::Test {
    TempDir dir;
    std::string config;

    void SetUp() override
    {
        config = dir.file("lodgate.ini");
        write_file(config, "# test configuration\n");
        ASSERT_EQ(serve_from_sqlite(), NERR_Success);
    }

    void TearDown() override { account_db_close(); }

    // The tool with words after "-c CONFIG", input on its standard input.
    AdminRun admin(const std::string &words, const std::string &input = "",
              const std::string &options = "")
    {
        return run_in(dir.path, options + " -c " + config + " " + words, input);
    }

    AdminRun run_in(const std::string &cwd, const std::string &arguments, const std::string &input)
    {
        write_file(dir.file("stdin"), input);
        std::string command = "cd '" + cwd + "' && " LODGATE_ADMIN_BINARY " " + arguments +
                              " <'" + dir.file("stdin") + "' 2>'" + dir.file("stderr") + "'";
        AdminRun run;
        std::FILE *pipe = popen(command.c_str(), "r");
        if (pipe == nullptr)
            return run;
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            run.out.append(buffer, got);
        int wait_status = pclose(pipe);
        run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
        run.err = read_file(dir.file("stderr"));
        return run;
    }

    // A logon through the module's service on the tool's database.
    DWORD module_logon(const char16_t *name, const char16_t *password)
    {
        account_db_close();
        if (account_db_open(dir.file("lodgate.db").c_str()) != NERR_Success)
            return NERR_InternalError;
        DWORD result = logon(name, password);
        account_db_close();
        return result;
    }

    UserRecord stored(const std::string &name)
    {
        account_db_close();
        UserRecord user;
        EXPECT_EQ(account_db_open(dir.file("lodgate.db").c_str()), NERR_Success);
        EXPECT_EQ(db_find_user(name, user), NERR_Success);
        account_db_close();
        return user;
    }
};

TEST_F(AdminTest, AddedUserIsListedInBothFormsAndLogsOnThroughTheModule)
{
    AdminRun add = admin("user add Ann home=/srv/mail/ann \"comment=Ann Smith\"", "pw-Ann-1\n",
                    "--password-stdin");
    ASSERT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(add.out, "added Ann\n");

    AdminRun tsv = admin("user list", "", "--tsv");
    EXPECT_EQ(tsv.status, 0);
    EXPECT_EQ(tsv.out, "Ann\t-\tGuests\t0\t/srv/mail/ann\tAnn Smith\n");
    AdminRun plain = admin("user list");
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out.substr(0, 4), "NAME");
    EXPECT_NE(plain.out.find("\nAnn "), std::string::npos);
    EXPECT_NE(plain.out.find("Ann Smith"), std::string::npos);

    AdminRun show = admin("user show ann", "", "--tsv");
    EXPECT_EQ(show.status, 0);
    EXPECT_EQ(show.out, "name\tAnn\nflags\t-\ngroups\tGuests\npassword_age_days\t0\n"
                        "failed_logons\t0\nhome\t/srv/mail/ann\ncomment\tAnn Smith\nscript\t-\n");

    EXPECT_EQ(module_logon(u"ann", u"pw-Ann-1"), ERROR_SUCCESS);
    EXPECT_EQ(module_logon(u"ann", u"pw-Ann-1\n"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(stored("Ann").password_hash.substr(0, 3), "$y$");
}

TEST_F(AdminTest, UsageErrorsExitTwoAndFailuresExitOneWithAMessage)
{
    EXPECT_EQ(run_in(dir.path, "", "").status, 2);
    EXPECT_EQ(admin("frobnicate").status, 2);
    EXPECT_EQ(admin("user").status, 2);
    EXPECT_EQ(admin("user add").status, 2);
    EXPECT_EQ(admin("user show a b").status, 2);
    EXPECT_EQ(admin("user list extra").status, 2);
    EXPECT_EQ(admin("user add zed shell=/bin/sh", "pw\n", "--password-stdin").status, 2);
    EXPECT_EQ(admin("policy set colour 3").status, 2);
    EXPECT_EQ(admin("policy set min-length -1").status, 2);
    EXPECT_EQ(admin("policy set min-length 9x").status, 2);
    EXPECT_EQ(admin("check now").status, 2);

    AdminRun missing = admin("user show nobody");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "lodgate-admin: nobody: no such user\n");
    EXPECT_EQ(admin("user del nobody").status, 1);

    ASSERT_EQ(admin("user add bob", "one\n", "--password-stdin").status, 0);
    AdminRun twice = admin("user add BOB", "two\n", "--password-stdin");
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.err.find("exists"), std::string::npos);
    EXPECT_EQ(module_logon(u"bob", u"one"), ERROR_SUCCESS);

    AdminRun no_terminal = admin("user add carol", "pw\n");
    EXPECT_EQ(no_terminal.status, 1);
    EXPECT_NE(no_terminal.err.find("--password-stdin"), std::string::npos);
    EXPECT_EQ(admin("user add carol", "", "--password-stdin").status, 1);
    EXPECT_EQ(admin("user show carol").status, 1);

    AdminRun no_config = run_in(dir.path, "-c " + dir.file("absent.ini") + " user list", "");
    EXPECT_EQ(no_config.status, 1);
    EXPECT_NE(no_config.err.find("absent.ini"), std::string::npos);
}

TEST_F(AdminTest, PasswdReplacesThePasswordWithinTheMinimumLength)
{
    ASSERT_EQ(admin("user add dave", "old-pass\n", "--password-stdin").status, 0);
    ASSERT_EQ(admin("policy set min-length 10").status, 0);
    AdminRun short_one = admin("user passwd dave", "short-9ch\n", "--password-stdin");
    EXPECT_EQ(short_one.status, 1);
    EXPECT_NE(short_one.err.find("shorter"), std::string::npos);
    EXPECT_EQ(module_logon(u"dave", u"old-pass"), ERROR_SUCCESS);

    ASSERT_EQ(admin("user passwd DAVE", "new-pass-10\n", "--password-stdin").status, 0);
    EXPECT_EQ(module_logon(u"dave", u"old-pass"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(module_logon(u"dave", u"new-pass-10"), ERROR_SUCCESS);

    EXPECT_EQ(admin("user add erin", "123456789\n", "--password-stdin").status, 1);
    EXPECT_EQ(admin("user show erin").status, 1);
}

TEST_F(AdminTest, DisableEnableUnlockAndDeleteChangeWhatTheModuleSees)
{
    ASSERT_EQ(admin("user add fay", "pw-fay\n", "--password-stdin").status, 0);
    ASSERT_EQ(admin("user disable fay").status, 0);
    EXPECT_EQ(module_logon(u"fay", u"pw-fay"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(admin("user list", "", "--tsv").out.substr(0, 13), "fay\tdisabled\t");
    ASSERT_EQ(admin("user enable fay").status, 0);
    EXPECT_EQ(module_logon(u"fay", u"pw-fay"), ERROR_SUCCESS);

    // A lock as the module's lockout leaves it.
    account_db_open(dir.file("lodgate.db").c_str());
    std::string lock = "UPDATE user_accounts SET failed_logons = 5, locked_until = " +
                       std::to_string(account_clock() + 3600);
    ASSERT_EQ(sqlite3_exec(account_db_connection(), lock.c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK);
    account_db_close();
    EXPECT_EQ(admin("user show fay", "", "--tsv").out.substr(0, 24),
              "name\tfay\nflags\tlocked\ngr");
    ASSERT_EQ(admin("user unlock fay").status, 0);
    UserRecord unlocked = stored("fay");
    EXPECT_EQ(unlocked.failed_logons, 0);
    EXPECT_EQ(unlocked.locked_until, 0);
    EXPECT_EQ(admin("user unlock nobody").status, 1);

    ASSERT_EQ(admin("user del FAY").status, 0);
    EXPECT_EQ(module_logon(u"fay", u"pw-fay"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(admin("user list", "", "--tsv").out, "");
}

TEST_F(AdminTest, PolicyIsShownAsSetAndBoundsAreKept)
{
    AdminRun fresh = admin("policy show", "", "--tsv");
    EXPECT_EQ(fresh.status, 0);
    EXPECT_EQ(fresh.out, "min-length\t0\nlockout-threshold\t0\nlockout-window\t1800\n"
                         "lockout-duration\t1800\n");
    ASSERT_EQ(admin("policy set lockout-threshold 5").status, 0);
    ASSERT_EQ(admin("policy set lockout-window 60").status, 0);
    EXPECT_EQ(admin("policy set min-length 257").status, 2);
    AdminRun changed = admin("policy show");
    EXPECT_EQ(changed.out, "min-length         0\nlockout-threshold  5\n"
                           "lockout-window     60\nlockout-duration   1800\n");
}

TEST_F(AdminTest, CheckReportsIntegrityAndVersionAndFailsOnABrokenFile)
{
    AdminRun good = admin("check", "", "--tsv");
    std::string expected = "file\t" + dir.file("lodgate.db") + "\nintegrity\tok\nschema_version\t" +
                           std::to_string(ACCOUNT_DB_SCHEMA_VERSION) + "\n";
    // On a host with the service user, the database must be that user's.
    if (getpwnam("lodgate") != nullptr) {
        EXPECT_EQ(good.status, 1);
        EXPECT_NE(good.err.find("the lodgate user cannot write " + dir.file("lodgate.db")),
                  std::string::npos) << good.err;
        if (geteuid() != 0)
            return;
        ASSERT_EQ(std::system(("chown -R lodgate: " + dir.path).c_str()), 0);
        good = admin("check", "", "--tsv");
        expected += "service_user\tmay use the database\n";
    }
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, expected);

    write_file(dir.file("lodgate.db"), std::string(8192, 'x'));
    AdminRun broken = admin("check");
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.err.find("lodgate.db"), std::string::npos);
}

TEST_F(AdminTest, DatabaseIsFoundAsTheModuleFindsIt)
{
    // Without -c: lodgate.ini in the current directory, lodgate.db beside it.
    AdminRun found = run_in(dir.path, "--password-stdin user add gil", "pw-gil\n");
    ASSERT_EQ(found.status, 0) << found.err;
    EXPECT_TRUE(file_exists(dir.file("lodgate.db")));

    // The account_db key names the file.
    write_file(config, "account_db " + dir.file("other.db") + "\n");
    ASSERT_EQ(admin("user add hal", "pw-hal\n", "--password-stdin").status, 0);
    EXPECT_TRUE(file_exists(dir.file("other.db")));
    EXPECT_EQ(admin("user list", "", "--tsv").out.substr(0, 4), "hal\t");
    EXPECT_EQ(module_logon(u"hal", u"pw-hal"), ERROR_LOGON_FAILURE);
}

TEST_F(AdminTest, GroupsAreAddedJoinedLeftAndDeleted)
{
    ASSERT_EQ(admin("user add ivy", "pw-ivy\n", "--password-stdin").status, 0);
    ASSERT_EQ(admin("user add jon", "pw-jon\n", "--password-stdin").status, 0);
    ASSERT_EQ(admin("group add Staff").status, 0);
    EXPECT_EQ(admin("group add staff").status, 1);
    EXPECT_EQ(admin("group add IVY").status, 1);
    ASSERT_EQ(admin("group join staff ivy").status, 0);
    ASSERT_EQ(admin("group join Staff JON").status, 0);
    AdminRun again = admin("group join staff ivy");
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "lodgate-admin: ivy is already in staff\n");
    EXPECT_EQ(admin("group join staff nobody").status, 1);
    EXPECT_EQ(admin("group join nogroup ivy").status, 1);

    EXPECT_EQ(admin("group members staff").out, "ivy\njon\n");
    AdminRun groups = admin("group list", "", "--tsv");
    EXPECT_EQ(groups.status, 0);
    EXPECT_NE(groups.out.find("\nGuests\t2\tbuiltin\tGuests have"), std::string::npos);
    EXPECT_NE(groups.out.find("\nStaff\t2\tlocal\t-\n"), std::string::npos);
    EXPECT_NE(admin("user show ivy", "", "--tsv").out.find("groups\tGuests,Staff\n"),
              std::string::npos);

    ASSERT_EQ(admin("group leave staff ivy").status, 0);
    EXPECT_EQ(admin("group leave staff ivy").status, 1);
    EXPECT_EQ(admin("group members staff").out, "jon\n");
    EXPECT_EQ(admin("group del Guests").status, 1);
    ASSERT_EQ(admin("group del staff").status, 0);
    EXPECT_EQ(admin("group members staff").status, 1);
    EXPECT_NE(admin("user show jon", "", "--tsv").out.find("groups\tGuests\n"),
              std::string::npos);
    EXPECT_EQ(admin("group join staff").status, 2);
    EXPECT_EQ(admin("group rename a b").status, 2);
}

TEST_F(AdminTest, ImportKeepsEachHashSoPasswordsStillVerifyAndWeakOnesAreUpgraded)
{
    std::string yes = crypt_with("pw-yes", "$y$");
    std::string sha = crypt_with("pw-sha", "$6$");
    std::string md5 = crypt_with("pw-md5", "$1$");
    ASSERT_EQ(sha.substr(0, 3), "$6$");
    write_file(dir.file("passwd"),
               "root:x:0:0:root:/root:/bin/bash\n"
               "yan:x:1000:1000:Yan Yes,,,:/home/yan:/bin/bash\n"
               "sam:x:1001:1001:Sam Sha:/home/sam:/bin/sh\n"
               "meg:x:1002:1002::/home/meg:/bin/sh\n"
               "lou:x:1003:1003:Locked Lou:/home/lou:/bin/sh\n"
               "sid:x:1004:1004:Star Sid:/home/sid:/bin/sh\n"
               "eli:x:1006:1006:Empty Eli:/home/eli:/bin/sh\n"
               "broken line\n"
               "yan:x:1005:1005:Again:/home/yan2:/bin/sh\n");
    write_file(dir.file("shadow"), "root:" + crypt_with("root", "$y$") + ":19000:0:99999:7:::\n" +
                                       "yan:" + yes + ":19000::::::\n" + "sam:" + sha +
                                       ":19000::::::\n" + "meg:" + md5 + ":19000::::::\n" +
                                       "lou:!" + sha + ":19000::::::\nsid:*:19000::::::\n" +
                                       "eli::19000::::::\n");
    AdminRun imported = admin("import " + dir.file("passwd") + " " + dir.file("shadow"), "",
                              "--tsv");
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(imported.out, "imported\t6\nbelow_min_uid\t1\nexisting\t1\nmalformed\t1\nrefused\t0\n");
    // Entries that can never log in come in disabled, and are listed so.
    std::string listed = admin("user list", "", "--tsv").out;
    for (const char *name : {"lou", "sid", "eli"})
        EXPECT_NE(listed.find(std::string(name) + "\tdisabled\t"), std::string::npos) << listed;

    EXPECT_EQ(stored("yan").comment, "Yan Yes");
    EXPECT_EQ(stored("yan").home_dir, "/home/yan");
    EXPECT_EQ(stored("meg").comment, std::nullopt);
    EXPECT_EQ(stored("sam").password_hash, sha);
    EXPECT_EQ(admin("user show root").status, 1);
    EXPECT_EQ(admin("group members Guests").out, "yan\nsam\nmeg\nlou\nsid\neli\n");

    EXPECT_EQ(module_logon(u"yan", u"pw-yes"), ERROR_SUCCESS);
    EXPECT_EQ(module_logon(u"meg", u"pw-md5"), ERROR_SUCCESS);
    EXPECT_EQ(module_logon(u"sam", u"wrong"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(stored("sam").password_hash, sha);
    EXPECT_EQ(module_logon(u"sam", u"pw-sha"), ERROR_SUCCESS);
    EXPECT_EQ(stored("sam").password_hash.substr(0, 3), "$y$");
    EXPECT_EQ(stored("meg").password_hash.substr(0, 3), "$y$");
    EXPECT_EQ(stored("yan").password_hash, yes);
    EXPECT_EQ(module_logon(u"sam", u"pw-sha"), ERROR_SUCCESS);
    EXPECT_EQ(module_logon(u"lou", u"pw-sha"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(module_logon(u"sid", u""), ERROR_LOGON_FAILURE);
    EXPECT_EQ(module_logon(u"sid", u"*"), ERROR_LOGON_FAILURE);

    // A second run finds them all present.
    AdminRun again = admin("import --min-uid 0 " + dir.file("passwd") + " " + dir.file("shadow"));
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "imported 1; skipped: 0 below the minimum uid, 7 existing, 1 malformed, 0 refused\n");
    EXPECT_EQ(module_logon(u"root", u"root"), ERROR_SUCCESS);
    EXPECT_EQ(admin("import " + dir.file("absent")).status, 1);
    EXPECT_EQ(admin("import --min-uid x " + dir.file("passwd")).status, 2);
    EXPECT_EQ(admin("import").status, 2);
}

TEST_F(AdminTest, RefusedValuesAndWeakHashesAreNamedAndTheRestIsImported)
{
    AdminRun forged = admin("user add eve comment=Evil\\\"x", "pw-eve\n", "--password-stdin");
    EXPECT_EQ(forged.status, 1);
    EXPECT_NE(forged.err.find("comment"), std::string::npos) << forged.err;
    EXPECT_EQ(admin("user show eve").status, 1);

    std::string des = crypt_with("password", "");
    // NT hashes have no salt; set would refuse the last two homes.
    write_file(dir.file("passwd"), "ok:x:1000:1000:Fine:/home/ok:/bin/sh\n"
                                   "bad:x:1001:1001:Evil\" home=\"/etc:/home/bad:/bin/sh\n"
                                   "old:x:1002:1002:Old:/home/old:/bin/sh\n"
                                   "nt:x:1003:1003:NT:/home/nt:/bin/sh\n"
                                   "rel:x:1004:1004:Rel:home/rel:/bin/sh\n"
                                   "up:x:1005:1005:Up:/home/../etc:/bin/sh\n");
    write_file(dir.file("shadow"), "ok:" + crypt_with("pw", "$y$") + ":1::::::\nold:" + des +
                                       ":1::::::\nnt:$3$$8846f7eaee8fb117ad06bdd830b7586c:1::::::\n");
    std::string files = dir.file("passwd") + " " + dir.file("shadow");
    AdminRun first = admin("import " + files, "", "--tsv");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "imported\t1\nbelow_min_uid\t0\nexisting\t0\nmalformed\t0\nrefused\t5\n");
    EXPECT_NE(first.err.find("line 2 (bad)"), std::string::npos) << first.err;
    EXPECT_NE(first.err.find("line 3 (old)"), std::string::npos) << first.err;
    EXPECT_EQ(admin("import --allow-weak " + files, "", "--tsv").out.substr(0, 10), "imported\t2");
    EXPECT_EQ(stored("old").password_hash, des);
}

// Run as root on a database whose directory belongs to the service user,
// the tool leaves every file to that user, new or made by root before.
TEST_F(AdminTest, RootLeavesTheDatabaseFilesToTheirDirectorysOwner)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const uid_t owner = 65534;  // nobody: any user but root
    ASSERT_EQ(chown(dir.path.c_str(), owner, owner), 0);
    ASSERT_EQ(admin("user add ann", "pw-ann-1\n", "--password-stdin").status, 0);
    for (const char *suffix : {"", "-wal", "-shm"}) {
        struct stat info {};
        ASSERT_EQ(stat((dir.file("lodgate.db") + suffix).c_str(), &info), 0) << suffix;
        EXPECT_EQ(info.st_uid, owner) << suffix;
        ASSERT_EQ(chown((dir.file("lodgate.db") + suffix).c_str(), 0, 0), 0);
    }
    ASSERT_EQ(admin("user list").status, 0);
    struct stat info {};
    ASSERT_EQ(stat(dir.file("lodgate.db-shm").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, owner);
}

}  // namespace
