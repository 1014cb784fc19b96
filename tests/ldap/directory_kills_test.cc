// A set or del on the directory is several LDAP operations: lodgate-ldap
// killed at random points of them leaves every account whole or absent, or
// in a state that the next set or del of its name mends; an account that
// is not whole never checks a password.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/ldap/slapd_fixture.h"

extern char **environ;

namespace {

const std::string BASE = std::string("ou=site,") + SLAPD_SUFFIX;

// What the directory holds of one name.
struct Held {
    bool entry = false;
    bool password = false;
    bool in_group = false;  // in Guests, the group every new account joins
};

Held held(const Slapd &server, const std::string &name)
{
    std::string search = std::string("ldapsearch -LLL -x -H ") + server.uri + " -D " +
                         SLAPD_ROOT_DN + " -w " + SLAPD_ROOT_PASSWORD + " -b " + BASE + " ";
    std::string people, guests;
    run_ldap_tool(search + "'(uid=" + name + ")' uid userPassword", "", &people);
    run_ldap_tool(search + "'(&(cn=Guests)(memberUid=" + name + "))' cn", "", &guests);
    return {people.find("uid: " + name) != std::string::npos,
            people.find("userPassword") != std::string::npos,
            guests.find("cn: Guests") != std::string::npos};
}

// The module started as a daemon starts it, killed after delay unless it
// has answered by then; its answer, or "" when it was killed first.
std::string run_killed(const std::string &directory, std::vector<std::string> words,
                       std::chrono::microseconds delay)
{
    int out[2];
    if (pipe(out) != 0)
        return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    words.insert(words.begin(), LODGATE_BINARY);
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, LODGATE_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned == 0) {
        std::this_thread::sleep_for(delay);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::string answer;
    char buffer[512];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(got));
    close(out[0]);
    return answer;
}

}  // namespace

TEST(DirectoryKills, EveryAccountIsWholeOrAbsentOrMendedByItsNextChange)
{
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(add_store_tree(*server, "ou=site"));
    TempDir site;
    write_file(site.file("lodgate.ini"),
               module_configuration(slapd_store_settings(*server, server->uri, "ou=site").ldap));
    const int kills = std::getenv("LODGATE_KILLS") ? std::atoi(std::getenv("LODGATE_KILLS")) : 200;
    const std::vector<std::string> names = {"kim", "kai", "kit", "kel"};
    std::mt19937 random(20261210);
    int answered = 0, cut = 0;
    for (int i = 0; i < kills; ++i) {
        const std::string &name = names[random() % names.size()];
        std::string password = "Killed-pass-" + std::to_string(i);
        std::vector<std::string> words = random() % 5 == 0
                                             ? std::vector<std::string>{"del", name}
                                             : std::vector<std::string>{"set", name, password};
        std::string answer = run_killed(site.path, words,
                                        std::chrono::microseconds(random() % 60000));
        answer.empty() ? ++cut : ++answered;
        Held now = held(*server, name);
        SCOPED_TRACE(words[0] + " " + name + " -> " + (answer.empty() ? "killed" : answer));
        EXPECT_FALSE(now.password && !now.in_group) << "a password without its group";
        if (now.entry && !(now.password && now.in_group)) {
            std::vector<std::string> lines = lines_of(
                run_lodgate({"check", name, password}, RunOptions{site.path, "", ""}).out);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0].rfind("-ERR", 0), 0u) << "a half-made account checked";
        }
        if (answer.rfind("+OK", 0) == 0 && words[0] == "set") {
            EXPECT_TRUE(now.entry && now.password && now.in_group);
            EXPECT_EQ(lines_of(run_lodgate({"check", name, password},
                                           RunOptions{site.path, "", ""}).out)[0]
                          .rfind("+OK", 0), 0u);
        }
    }
    for (const std::string &name : names) {
        RunOptions options{site.path, "", ""};
        run_lodgate({"set", name, "Mended-pass-1"}, options);
        Held mended = held(*server, name);
        EXPECT_TRUE(mended.entry && mended.password && mended.in_group) << name;
        EXPECT_EQ(lines_of(run_lodgate({"check", name, "Mended-pass-1"}, options).out)[0]
                      .rfind("+OK", 0), 0u) << name;
        run_lodgate({"del", name}, options);
        Held gone = held(*server, name);
        EXPECT_FALSE(gone.entry || gone.in_group) << name;
    }
    std::printf("%d commands killed, %d answered first\n", cut, answered);
    EXPECT_GT(cut, kills / 4) << "too few kills landed inside a command";
}
