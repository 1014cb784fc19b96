// Hostile words in every word of every command, on the command line and on
// standard input: each command read gets one reply, the module goes on
// serving, and nothing stored changes unless the word is ordinary text that
// the command may store as it is.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include <sqlite3.h>
#include <thread>

#include "tests/hardening/child_process.h"
#include "tests/hardening/installation.h"

namespace {

struct HostileWord {
    const char *label;
    std::string text;
    bool ordinary;  // valid text that a command may store
};

const std::vector<HostileWord> &hostile_words()
{
    static const std::vector<HostileWord> words = {
        {"cr", "a\rb", false},
        {"lf", "a\nb", false},
        {"crlf", "a\r\nb", false},
        {"nul", std::string("a\0b", 3), false},
        {"printf", "%s%n%x%n%p", true},
        {"high_bytes", "a\x80\xff\xfe", false},
        {"overlong", "\xc0\xaf\xe0\x80\xaf", false},
        {"surrogate", "\xed\xa0\x80", false},
        {"w511", std::string(511, 'w'), false},
        {"w512", std::string(512, 'w'), false},
        {"w4096", std::string(4096, 'w'), false},
    };
    return words;
}

// Each template's "@" is replaced by the hostile word.
const std::vector<std::vector<std::string>> COMMANDS = {
    {"check", "@", "alice-pw"},     {"check", "alice", "@"},
    {"lookup", "@"},                {"search", "@"},
    {"set", "@", "pw-1"},           {"set", "mallory", "@"},
    {"set", "mallory", "pw-1", "home=@"}, {"set", "mallory", "pw-1", "comment=@"},
    {"set", "mallory", "pw-1", "script=@"}, {"set", "alice", "(NULL)", "comment=@"},
    {"del", "@"},
};

std::vector<std::string> filled(const std::vector<std::string> &words, const std::string &word)
{
    std::vector<std::string> out;
    for (const std::string &each : words) {
        std::string text = each;
        std::size_t at = text.find('@');
        if (at != std::string::npos)
            text.replace(at, 1, word);
        out.push_back(text);
    }
    return out;
}

std::string joined(const std::vector<std::string> &words)
{
    std::string line;
    for (const std::string &word : words)
        line += (line.empty() ? "" : " ") + word;
    return line;
}

// Replies: any +DATA lines and one closing +OK or negative line each.
int reply_count(const Lines &lines, std::string &fault)
{
    int count = 0;
    for (const std::string &line : lines) {
        if (line.size() > 1022)
            fault = "line longer than 1022 characters";
        if (line.rfind("+DATA", 0) == 0)
            continue;
        if (line.rfind("+OK", 0) == 0 || line.rfind("-ERR", 0) == 0 ||
            line.rfind("-DEAD", 0) == 0)
            ++count;
        else
            fault = "untagged line: " + line;
    }
    return count;
}

// The lines of text, each answered once however long it is; an empty line
// counts, and so does a last one without its line feed.
int read_count(const std::string &text)
{
    int lines = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        start = end == std::string::npos ? text.size() : end + 1;
        ++lines;
    }
    return lines;
}

// Whether the command may change what is stored: set and del with ordinary
// text, and on standard input with a line feed, which ends the line there,
// so that what comes before it is a command of its own.
bool may_store(const HostileWord &hostile, const std::vector<std::string> &command,
               bool standard_input)
{
    bool line_end = standard_input && hostile.text.find('\n') != std::string::npos;
    return (command[0] == "set" || command[0] == "del") && (hostile.ordinary || line_end);
}

struct HostileInput : testing::Test {
    Installation installation;

    void SetUp() override
    {
        ASSERT_EQ(installation.replies("set alice alice-pw comment=A\n"),
                  (Lines{"+OK alice added to database.", "+OK"}));
    }
};

TEST_F(HostileInput, EveryCommandOnTheCommandLineGetsOneReply)
{
    int tried = 0;
    for (const HostileWord &hostile : hostile_words()) {
        // A process argument ends at its first NUL.
        if (hostile.text.find('\0') != std::string::npos)
            continue;
        for (const auto &command : COMMANDS) {
            AccountSnapshot before = read_accounts(installation.database);
            std::vector<std::string> args = filled(command, hostile.text);
            RunResult result = installation.run(args);
            std::string fault;
            Lines lines = lines_of(result.out);
            SCOPED_TRACE(std::string(hostile.label) + ": " + joined(command));
            EXPECT_EQ(reply_count(lines, fault), 1) << result.out;
            EXPECT_EQ(fault, "");
            EXPECT_EQ(result.exit_status, 0);
            EXPECT_EQ(result.err, "");
            if (!may_store(hostile, command, false)) {
                EXPECT_EQ(read_accounts(installation.database), before);
            }
            ++tried;
        }
    }
    RecordProperty("inputs_tried", tried);
    EXPECT_EQ(integrity_check(installation.database), "ok");
}

TEST_F(HostileInput, EveryCommandOnStandardInputGetsOneReplyPerRead)
{
    int tried = 0;
    for (const HostileWord &hostile : hostile_words()) {
        for (const auto &command : COMMANDS) {
            AccountSnapshot before = read_accounts(installation.database);
            std::string text = joined(filled(command, hostile.text)) + "\n";
            RunResult result = installation.run({}, text + "version\nquit\n");
            Lines lines = lines_of(result.out);
            std::string fault;
            SCOPED_TRACE(std::string(hostile.label) + ": " + joined(command));
            EXPECT_EQ(reply_count(lines, fault), read_count(text) + 2) << result.out;
            EXPECT_EQ(fault, "");
            ASSERT_GE(lines.size(), 2u);
            // Still serving after it.
            EXPECT_EQ(lines[lines.size() - 2], "+OK Lodgate version 1.0i");
            EXPECT_EQ(result.exit_status, 0);
            if (!may_store(hostile, command, true)) {
                EXPECT_EQ(read_accounts(installation.database), before);
            }
            ++tried;
        }
    }
    RecordProperty("inputs_tried", tried);
}

TEST_F(HostileInput, PrintfSpecifiersAreStoredAndEchoedAsTheyAre)
{
    Lines out = installation.replies("set %s%n%x%n pw-1 comment=%n%s\nlookup %s%n%x%n\n");
    EXPECT_EQ(out, (Lines{"+OK %s%n%x%n added to database.",
                          "+OK %s%n%x%n config 0 comment=\"%n%s\"", "+OK"}));
    AccountSnapshot accounts = read_accounts(installation.database);
    ASSERT_EQ(accounts.count("%S%N%X%N"), 1u);
    EXPECT_EQ(accounts["%S%N%X%N"].comment, "%n%s");
}

TEST_F(HostileInput, LineEndsInsideAWordCutNoCommandShort)
{
    // Before the fix, "set mallory pw\rx" set the password "pw".
    Lines out = installation.replies(std::string("set mallory pw\rx\nset mallory pw\0x\n", 34));
    EXPECT_EQ(out, (Lines{"-ERR Line holds a NUL or carriage return.",
                          "-ERR Line holds a NUL or carriage return.", "+OK"}));
    EXPECT_EQ(read_accounts(installation.database).count("MALLORY"), 0u);
    // A line ended by CR LF is a plain line.
    EXPECT_EQ(installation.replies("version\r\n"), (Lines{"+OK Lodgate version 1.0i", "+OK"}));
}

TEST_F(HostileInput, LongLineNeverRunsItsTail)
{
    // Before the fix, the tail of a long password ran as a command of its own.
    for (const char *tail : {"set admin NewPass1", "del alice"}) {
        std::string line = "check alice " + std::string(500 - std::strlen(tail), 'p') + tail;
        Lines out = installation.replies(line + "\n");
        EXPECT_EQ(out, (Lines{"-ERR Line too long.", "+OK"}));
        EXPECT_EQ(installation.log().find(tail), std::string::npos);
    }
    AccountSnapshot accounts = read_accounts(installation.database);
    EXPECT_EQ(accounts.count("ADMIN"), 0u);
    EXPECT_EQ(accounts.count("ALICE"), 1u);
    // 509 characters before the line feed are a command; 510 are not.
    std::string word(509 - 7, 'v');
    EXPECT_EQ(installation.replies("lookup " + word + "\nlookup " + word + "v\n"),
              (Lines{"-ERR User " + word + " not found.", "-ERR Line too long.", "+OK"}));
}

TEST_F(HostileInput, CommandsOwnWordsAreNeverOptions)
{
    // Before the fix, "path" among a check's words loaded another directory's
    // configuration, "-debug" echoed the log and "-version" ended the module.
    TempDir elsewhere;
    write_file(elsewhere.file("lodgate.ini"), "log debug\n");
    RunResult result = installation.run({"check", "path", elsewhere.path});
    EXPECT_EQ(result.out, "-ERR path does not exist or password incorrect.\n");
    EXPECT_FALSE(file_exists(elsewhere.file("lodgate.log")));
    result = installation.run({"check", "alice", "-debug"});
    EXPECT_EQ(result.out, "-ERR alice does not exist or password incorrect.\n");
    result = installation.run({"check", "alice", "-version"});
    EXPECT_EQ(result.out, "-ERR alice does not exist or password incorrect.\n");
    // Options after the command's own words still count.
    result = installation.run({"check", "alice", "alice-pw", "-version"});
    EXPECT_EQ(result.out, "Quorvane's Lodgate module, Version 1.0i\n");
}

TEST_F(HostileInput, PasswordArgumentLeavesTheProcessList)
{
    // The module waits for the write lock that the test holds, long enough
    // to read its arguments as another user would.
    sqlite3 *holder = nullptr;
    ASSERT_EQ(sqlite3_open(installation.database.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    ModuleProcess module;
    ASSERT_TRUE(start_module(module, installation.directory.path,
                             {"set", "carol", "Carol-Secret-pw"}));
    // From the exec until the module has parsed them, the arguments hold
    // the password.
    std::string arguments;
    for (int i = 0; i < 400; ++i) {
        arguments = read_file("/proc/" + std::to_string(module.pid) + "/cmdline");
        if (arguments.find("carol") != std::string::npos &&
            arguments.find("Carol-Secret") == std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_NE(arguments.find("carol"), std::string::npos);
    EXPECT_EQ(arguments.find("Carol-Secret"), std::string::npos);
    EXPECT_EQ(read_reply_line(module), "+OK carol added to database.");
    EXPECT_EQ(finish_module(module), 0);
}

TEST_F(HostileInput, ControlCharactersInStoredValuesAreRefused)
{
    std::string cjk_600_bytes = "comment=";
    for (int i = 0; i < 200; ++i)
        cjk_600_bytes += "\xe6\xbc\xa2";
    for (const std::string &word : {std::string("comment=a\nb"), std::string("home=a\rb"),
                                    std::string("script=a\x01"),
                                    std::string("comment=Evil\" home=\"/etc/shadow"),
                                    cjk_600_bytes}) {
        RunResult result = installation.run({"set", "mallory", "pw-1", word});
        EXPECT_EQ(lines_of(result.out).size(), 1u) << word;
        EXPECT_EQ(result.out.rfind("-ERR", 0), 0u) << result.out;
    }
    EXPECT_EQ(installation.run({"set", "mallory", "pw\n1"}).out, "-ERR Password invalid.\n");
    EXPECT_EQ(read_accounts(installation.database).count("MALLORY"), 0u);
}

// Peak resident memory of a live process, in kB.
long peak_kilobytes(pid_t pid)
{
    std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
    std::size_t at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

TEST_F(HostileInput, TenMebibyteLineWithoutLineFeedStaysBounded)
{
    std::string input(10 * 1024 * 1024, 'x');
    RunResult result = installation.run({}, input);
    EXPECT_EQ(result.exit_status, 0);
    std::string fault;
    EXPECT_EQ(reply_count(lines_of(result.out), fault), read_count(input));
    EXPECT_EQ(fault, "");

    // Memory: the peak after one short command, and again after 10 MiB more
    // of a line, read while the process lives; replies are drained meanwhile.
    // AddressSanitizer would hold freed blocks back and look like growth.
    const char *saved = std::getenv("ASAN_OPTIONS");
    std::string saved_options = saved ? saved : "";
    setenv("ASAN_OPTIONS", "quarantine_size_mb=0:thread_local_quarantine_size_kb=0", 1);
    ModuleProcess module;
    bool started = start_module(module, installation.directory.path);
    if (saved)
        setenv("ASAN_OPTIONS", saved_options.c_str(), 1);
    else
        unsetenv("ASAN_OPTIONS");
    ASSERT_TRUE(started);
    ASSERT_TRUE(send_line(module, "lookup alice"));
    ASSERT_EQ(read_reply(module).size(), 1u);
    long before = peak_kilobytes(module.pid);
    std::size_t replies = 0;
    std::thread drain([&module, &replies] { replies = read_all_lines(module).size(); });
    std::string chunk(65536, 'y');
    for (int i = 0; i < 160; ++i)
        ASSERT_TRUE(send_text(module, chunk));
    ASSERT_TRUE(send_line(module, "\nversion"));
    long after = peak_kilobytes(module.pid);
    EXPECT_EQ(finish_module(module), 0);
    drain.join();
    EXPECT_EQ(replies, 2u);  // the long line's refusal and the version
    EXPECT_LT(after - before, 4096) << "kB grown over 10 MiB of input";
}

TEST_F(HostileInput, ProcessCommandLineOfOneHundredThousandCharacters)
{
    std::vector<std::string> args = {"check", "alice", std::string(100000, 'p')};
    RunResult result = installation.run(args);
    EXPECT_EQ(result.out, "-ERR Unable to convert to unicode, insufficient buffer space.\n");
    std::vector<std::string> many = {"search", "*"};
    for (int i = 0; i < 20000; ++i)
        many.push_back("word");
    result = installation.run(many);
    EXPECT_EQ(lines_of(result.out).back(), "+OK 1 entry found.");
    EXPECT_EQ(result.exit_status, 0);
}

}  // namespace
