// The account database when the file system fails it: a full disk, a file
// that is no database, a directory in the file's place; and the files it
// makes: their mode whatever the umask, and a write-ahead log that stays
// bounded while a reader lives on and writers keep writing.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

#include "tests/hardening/child_process.h"
#include "tests/hardening/installation.h"

namespace {

// Every kind of command on an account that exists and one that does not.
const std::string ALL_COMMANDS = "set bob bob-pw\n"
                                 "set alice new-pw\n"
                                 "set alice (NULL) comment=changed\n"
                                 "del alice\n"
                                 "check alice alice-pw\n"
                                 "check nobody alice-pw\n"
                                 "lookup alice\n"
                                 "search *\n";
constexpr int COMMAND_COUNT = 8;

// The replies to ALL_COMMANDS then version and quit: one negative line
// each, and still serving.
void expect_every_command_refused(const Lines &out)
{
    ASSERT_EQ(out.size(), COMMAND_COUNT + 2u) << testing::PrintToString(out);
    for (int i = 0; i < COMMAND_COUNT; ++i) {
        EXPECT_EQ(out[i][0], '-') << out[i];
        EXPECT_EQ(out[i].find("config 0"), std::string::npos) << out[i];
    }
    EXPECT_EQ(out[COMMAND_COUNT], "+OK Lodgate version 1.0i");
    // A daemon bounces the mail on "not found": lookup answers the fault as
    // check does.
    EXPECT_EQ(out[6], out[4]);
}

struct DatabaseFaults : testing::Test {
    Installation installation{""};

    void SetUp() override
    {
        ASSERT_EQ(installation.replies("set alice alice-pw comment=A\n"),
                  (Lines{"+OK alice added to database.", "+OK"}));
    }
};

TEST_F(DatabaseFaults, FileThatIsNoDatabase)
{
    std::filesystem::remove(installation.database);
    write_file(installation.database, std::string(8192, 'j') + "not a database");
    expect_every_command_refused(installation.replies(ALL_COMMANDS + "version\n"));
    EXPECT_EQ(read_file(installation.database), std::string(8192, 'j') + "not a database");
}

TEST_F(DatabaseFaults, DirectoryWhereTheFileShouldBe)
{
    std::filesystem::remove(installation.database);
    std::filesystem::create_directory(installation.database);
    expect_every_command_refused(installation.replies(ALL_COMMANDS + "version\n"));
    EXPECT_TRUE(std::filesystem::is_empty(installation.database));
}

// The -wal file outlives the module; a clean end leaves it empty, so a main
// file put back from a copy is read as it is, not as the old log would
// rewrite it.
TEST_F(DatabaseFaults, MainFileRestoredFromACopy)
{
    std::string copy = read_file(installation.database);
    ASSERT_EQ(installation.replies("set bob bob-pw\n"),
              (Lines{"+OK bob added to database.", "+OK"}));
    EXPECT_EQ(std::filesystem::file_size(installation.database + "-wal"), 0u);
    write_file(installation.database, copy);
    Lines out = installation.replies("lookup bob\nlookup alice\n");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0][0], '-') << out[0];
    EXPECT_EQ(out[1], "+OK alice config 0 comment=\"A\"");
    EXPECT_EQ(integrity_check(installation.database), "ok");
    EXPECT_EQ(read_accounts(installation.database).count("BOB"), 0u);
}

// RLIMIT_FSIZE and an ignored SIGXFSZ pass to the child, which then gets
// EFBIG for any write past the limit, as on a full disk.
struct FileSizeLimit {
    rlimit saved{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, SIG_DFL);
    }
};

TEST_F(DatabaseFaults, FullDisk)
{
    AccountSnapshot before = read_accounts(installation.database);
    Lines out;
    {
        FileSizeLimit limit(1024);
        out = installation.replies(ALL_COMMANDS + "version\n");
    }
    expect_every_command_refused(out);
    EXPECT_EQ(integrity_check(installation.database), "ok");
    EXPECT_EQ(read_accounts(installation.database), before);
    // With room again, everything works.
    EXPECT_EQ(installation.replies("check alice alice-pw\n")[0],
              "+OK alice config 0 comment=\"A\"");
}

TEST_F(DatabaseFaults, FullDiskAfterTheFilesExist)
{
    // The -wal and -shm files exist and are large enough: only growth fails.
    ModuleProcess reader;
    ASSERT_TRUE(start_module(reader, installation.directory.path));
    ASSERT_TRUE(send_line(reader, "lookup alice"));
    ASSERT_EQ(read_reply(reader).size(), 1u);
    AccountSnapshot before = read_accounts(installation.database);
    Lines out;
    {
        auto wal_size = std::filesystem::file_size(installation.database + "-wal");
        FileSizeLimit limit(std::max<std::uintmax_t>(wal_size, 32768) + 1);
        out = installation.replies("set bob bob-pw comment=" + std::string(250, 'b') +
                                   "\ncheck alice alice-pw\nversion\n");
    }
    ASSERT_EQ(out.size(), 4u);
    // Whether the writes fit is the file system's matter; a reply is either
    // a whole success or a negative line, and check never errs to "+OK".
    EXPECT_TRUE(out[1] == "+OK alice config 0 comment=\"A\"" || out[1][0] == '-') << out[1];
    EXPECT_EQ(out[2], "+OK Lodgate version 1.0i");
    EXPECT_EQ(integrity_check(installation.database), "ok");
    AccountSnapshot after = read_accounts(installation.database);
    EXPECT_EQ(after.at("ALICE"), before.at("ALICE"));
    EXPECT_EQ(after.size(), before.size() + (out[0][0] == '+' ? 1u : 0u));
}

TEST(DatabaseFiles, CreatedPrivateWhateverTheUmask)
{
    Installation installation("");
    mode_t saved = umask(0);
    ModuleProcess module;
    bool started = start_module(module, installation.directory.path);
    umask(saved);
    ASSERT_TRUE(started);
    ASSERT_TRUE(send_line(module, "set alice alice-pw"));
    ASSERT_EQ(read_reply(module), (Lines{"+OK alice added to database."}));
    for (const char *suffix : {"", "-wal", "-shm"}) {
        struct stat status{};
        ASSERT_EQ(stat((installation.database + suffix).c_str(), &status), 0) << suffix;
        EXPECT_EQ(status.st_mode & 0777, 0600u) << suffix;
    }
    EXPECT_EQ(finish_module(module), 0);
}

// LODGATE_WAL_SECONDS lengthens the run (tools/soak).
int wal_seconds()
{
    const char *text = std::getenv("LODGATE_WAL_SECONDS");
    return text ? std::atoi(text) : 8;
}

TEST(DatabaseFiles, WriteAheadLogStaysBounded)
{
    Installation installation("");
    ASSERT_EQ(installation.replies("set alice alice-pw\nset bob bob-pw\n").size(), 3u);
    ModuleProcess reader;
    ModuleProcess writers[2];
    ASSERT_TRUE(start_module(reader, installation.directory.path));
    for (ModuleProcess &writer : writers)
        ASSERT_TRUE(start_module(writer, installation.directory.path));
    const std::string wal = installation.database + "-wal";
    std::uintmax_t largest = 0;
    long updates = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(wal_seconds());
    while (std::chrono::steady_clock::now() < end) {
        ASSERT_TRUE(send_line(reader, updates % 2 ? "search *" : "lookup alice"));
        const char *names[] = {"alice", "bob"};
        for (int i = 0; i < 2; ++i) {
            std::string comment = std::string(250, 'a' + static_cast<char>(updates % 26));
            ASSERT_TRUE(send_line(writers[i], std::string("set ") + names[i] +
                                                  " (NULL) comment=" + comment));
        }
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(read_reply(writers[i]),
                      (Lines{std::string("+OK User ") + names[i] + " added to database."}));
        ASSERT_FALSE(read_reply(reader).empty());
        updates += 2;
        std::error_code ignored;
        largest = std::max(largest, std::filesystem::file_size(wal, ignored) + 0);
    }
    RecordProperty("updates", static_cast<int>(updates));
    RecordProperty("largest_wal_bytes", static_cast<int>(largest));
    std::printf("%ld updates, largest write-ahead log %ju bytes\n", updates, largest);
    // SQLite checkpoints after 1000 pages (4 MiB); twice that is the bound.
    EXPECT_LT(largest, 8u * 1024 * 1024);
    EXPECT_EQ(integrity_check(installation.database), "ok");
}

}  // namespace
