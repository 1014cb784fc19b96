// The module itself on a directory, as the daemons run it: the static
// lodgate reads the ldap keys and hands the run to lodgate-ldap.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "accounts/reply_table.h"
#include "tests/e2e/harness.h"
#include "tests/ldap/slapd_fixture.h"

namespace {

const char PASSWORD[] = "Directory-Pass-7";

// A site's lodgate.ini for a store over ou=site reaching uri.
struct ModuleSite {
    TempDir dir;

    ModuleSite(const Slapd &server, const std::string &uri, int timeout = 2)
    {
        LdapSettings ldap = slapd_store_settings(server, uri, "ou=site").ldap;
        ldap.timeout_seconds = timeout;
        write_file(dir.file("lodgate.ini"), module_configuration(ldap));
    }

    std::vector<std::string> replies(const std::string &input) const
    {
        return lines_of(run_lodgate({}, RunOptions{dir.path, "", input}).out);
    }

    // lodgate-admin's exit status, with what it printed in output.
    int admin(const std::string &words, const std::string &input = "",
              std::string *output = nullptr) const
    {
        std::string ignored;
        return run_ldap_tool(std::string(LODGATE_ADMIN_BINARY) + " -c " + dir.file("lodgate.ini") +
                                 " " + words,
                             input, output ? output : &ignored);
    }
};

// A directory that stops mid-answer, for 15 s: it reads a request (answers
// a bind first when answer_bind, and reads the next) and sends head, the
// first bytes of a reply that never comes. Its pid; its port in port.
pid_t stalled_directory(const std::string &head, bool answer_bind, int &port)
{
    int listener = silent_listener(port);
    pid_t pid = fork();
    if (pid != 0) {
        close(listener);
        return pid;
    }
    alarm(15);
    char in[4096];
    const char BOUND[] = "\x30\x0c\x02\x01\x01\x61\x07\x0a\x01\x00\x04\x00\x04\x00";
    for (int fd; (fd = accept(listener, nullptr, nullptr)) >= 0;) {
        bool asked = read(fd, in, sizeof in) > 0 &&
                     (!answer_bind || (write(fd, BOUND, 14) == 14 && read(fd, in, sizeof in) > 0));
        if (asked && write(fd, head.data(), head.size()) < 0)
            break;
    }
    _exit(0);
}

bool is_ok(const std::vector<std::string> &lines)
{
    return !lines.empty() && lines[0].rfind("+OK", 0) == 0;
}

}  // namespace

TEST(ModuleOnDirectory, ReplicaServesChecksRefersWritesAndSurvivesItsLoss)
{
    auto provider = start_slapd();
    ASSERT_NE(provider, nullptr);
    ASSERT_TRUE(add_store_tree(*provider, "ou=site"));
    SlapdOptions replica;
    replica.provider_uri = provider->uri;
    auto consumer = start_slapd(replica);
    ASSERT_NE(consumer, nullptr);

    ModuleSite primary(*provider, provider->uri);
    ASSERT_TRUE(is_ok(primary.replies(std::string("set alice ") + PASSWORD +
                                      " comment=Alice\n")));
    ModuleSite second(*provider, consumer->uri + " " + provider->uri);
    std::string check = std::string("check alice ") + PASSWORD + "\n";
    bool replicated = false;
    for (int i = 0; i < 40 && !replicated; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        replicated = is_ok(second.replies(check));
    }
    EXPECT_TRUE(replicated) << "not on the consumer within a second";
    EXPECT_EQ(second.replies(std::string("set bob ") + PASSWORD + "\n"),
              std::vector<std::string>{NOT_PRIMARY_REPLY});

    // Filter and DN specials never widen a search.
    std::vector<std::string> out = second.replies("lookup *\ncheck *)(uid=* x\nlookup a*\n");
    ASSERT_EQ(out.size(), 3u);
    for (const std::string &line : out)
        EXPECT_EQ(line.rfind("-ERR", 0), 0u) << line;

    consumer->stop();
    EXPECT_TRUE(is_ok(second.replies(check)));
}

TEST(ModuleOnDirectory, UnansweringServerGivesNoLogonServersAfterTheTimeout)
{
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    int port = 0;
    int silent = silent_listener(port);
    ModuleSite site(*server, "ldap://127.0.0.1:" + std::to_string(port) + "/", 1);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(site.replies("check alice x\nlookup alice\n"),  // never "not found"
              std::vector<std::string>(2, "-ERR 1311:Unknown error has occurred."));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
    close(silent);
}

// 8 bytes of a 1,000-byte bindResponse, in the service bind or in the next
// operation, hold no command past the timeout; a 2 GiB length is refused
// before it is read.
TEST(ModuleOnDirectory, ServerThatStopsMidAnswerHoldsNoCommand)
{
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    const std::string THOUSAND("\x30\x82\x03\xe8\x02\x01\x01\x61", 8);
    const std::string TWO_GIB("\x30\x84\x7f\xff\xff\xff\x02\x01", 8);
    for (auto [head, answer_bind, timeout] : {std::tuple(THOUSAND, false, 1),
                                               std::tuple(THOUSAND, true, 1),
                                               std::tuple(TWO_GIB, false, 20)}) {
        int port = 0;
        pid_t stalled = stalled_directory(head, answer_bind, port);
        ModuleSite site(*server, "ldap://127.0.0.1:" + std::to_string(port) + "/", timeout);
        for (const char *command : {"check a x", "lookup a", "search *", "set a Pass-1", "del a"}) {
            auto started = std::chrono::steady_clock::now();
            std::vector<std::string> out = site.replies(std::string(command) + "\n");
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
            EXPECT_EQ(out.size() == 1 ? out[0][0] : '?', '-') << command;
        }
        kill(stalled, SIGKILL);
        waitpid(stalled, nullptr, 0);
    }
}

TEST(ModuleOnDirectory, AdministrationWorksThroughTheDirectory)
{
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(add_store_tree(*server, "ou=site"));
    ModuleSite site(*server, server->uri);
    std::string out;
    ASSERT_EQ(site.admin("--password-stdin user add carol comment=Carol", std::string(PASSWORD) + "\n",
                         &out), 0) << out;
    ASSERT_EQ(site.admin("group join Administrators carol", "", &out), 0) << out;
    EXPECT_TRUE(is_ok(site.replies(std::string("check carol ") + PASSWORD + "\n")));
    ASSERT_EQ(site.admin("--tsv user show carol", "", &out), 0) << out;
    EXPECT_NE(out.find("comment\tCarol\n"), std::string::npos) << out;
    EXPECT_NE(out.find("groups\tAdministrators"), std::string::npos) << out;
    EXPECT_NE(out.find("password_age_days\t0\n"), std::string::npos) << out;

    ASSERT_EQ(site.admin("policy set lockout-threshold 3", "", &out), 0) << out;
    ASSERT_EQ(site.admin("--tsv policy show", "", &out), 0) << out;
    EXPECT_NE(out.find("lockout-threshold\t3\n"), std::string::npos) << out;
    ASSERT_EQ(site.admin("user disable carol", "", &out), 0) << out;
    EXPECT_FALSE(is_ok(site.replies(std::string("check carol ") + PASSWORD + "\n")));
    ASSERT_EQ(site.admin("user enable carol", "", &out), 0) << out;

    // /etc/passwd and /etc/shadow forms: the hash is kept as it is.
    TempDir files;
    write_file(files.file("passwd"), "dave:x:1500:1500:Dave:/home/dave:/bin/sh\n");
    write_file(files.file("shadow"), "dave:$6$rounds=5000$saltsalt$abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrst01:19000:0:99999:7:::\n");
    EXPECT_EQ(site.admin("import --min-uid 1000 " + files.file("passwd") + " " + files.file("shadow"),
                         "", &out), 0) << out;
    ASSERT_EQ(site.admin("--tsv user list", "", &out), 0) << out;
    EXPECT_NE(out.find("dave\t-\tGuests\t0\t/home/dave\tDave\n"), std::string::npos) << out;
    ASSERT_EQ(site.admin("user del carol", "", &out), 0) << out;
    EXPECT_EQ(site.admin("user show carol", "", &out), 1) << out;
}
