// The three programs over every store setting they can be given, and
// lodgate-auth and the module's command line on a real directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/ldap/slapd_fixture.h"

extern char **environ;

namespace {

// The account lodgate-auth switches to; the mail-server tests add it too.
bool have_service_user()
{
    return std::system("getent passwd lodgate >/dev/null || adduser --system --group --quiet "
                       "--home /var/lib/lodgate --no-create-home lodgate >/dev/null 2>&1; "
                       "getent passwd lodgate >/dev/null") == 0;
}

// A directory that lodgate-auth, as the lodgate user, may read.
void open_to_service_user(const TempDir &dir)
{
    chmod(dir.path.c_str(), 0755);
}

bool auth_finds_its_directory_program()
{
    std::string built = LODGATE_AUTH_LDAP_BINARY;
    return built == std::string(LODGATE_LIBEXECDIR) + "/lodgate-auth-ldap";
}

std::string shell_quoted(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// lodgate-auth in pam mode, as pam_exec runs it: its status and stderr.
int auth_pam(const std::string &config, const std::string &user, const std::string &password,
             std::string &output)
{
    return run_ldap_tool("env PAM_USER=" + shell_quoted(user) + " " + LODGATE_AUTH_BINARY +
                             " -c " + config + " pam",
                         password, &output);
}

struct RefusedSetting {
    const char *key;
    const char *value;  // empty: the key is left out
    const char *named;  // what every program says
};

// A directory site's lodgate.ini that opens, and the sqlite default.
const RefusedSetting REFUSED_SETTINGS[] = {
    {"account_service", "oracle", "Unknown account_service {oracle}"},
    {"account_db", "/nonexistent-lodgate/x.db", "Unusable account_db {/nonexistent-lodgate/x.db}"},
    {"ldap_schema", "rfc2037", "Unknown ldap_schema {rfc2037}"},
    {"ldap_uri", "", "Missing ldap_uri {}"},
    {"ldap_user_base", "", "Missing ldap_user_base {}"},
    {"ldap_group_base", "", "Missing ldap_group_base {}"},
    {"ldap_tls", "sometimes", "Unknown ldap_tls {sometimes}"},
    {"ldap_uri", "ldap://192.0.2.1/", "Invalid ldap_tls {none}"},
    {"ldap_bind_password_file", "/nonexistent-lodgate", "Unreadable ldap_bind_password_file {/nonexistent-lodgate}"},
    {"ldap_ca_file", "/nonexistent-lodgate", "Unreadable ldap_ca_file {/nonexistent-lodgate}"},
};

std::string configuration_with(const RefusedSetting &row)
{
    std::vector<std::pair<std::string, std::string>> keys = {
        {"account_service", "ldap"}, {"ldap_uri", "ldap://127.0.0.1:9/"},
        {"ldap_user_base", "ou=people,dc=x"}, {"ldap_group_base", "ou=groups,dc=x"},
        {"ldap_tls", "none"}};
    if (std::string(row.key).rfind("ldap_", 0) != 0)
        keys.clear();
    bool replaced = false;
    std::string text;
    for (auto &[key, value] : keys) {
        if (key == row.key) {
            value = row.value;
            replaced = true;
        }
        if (!value.empty())
            text += key + " " + value + "\n";
    }
    if (!replaced)
        text += std::string(row.key) + " " + row.value + "\n";
    return text;
}

}  // namespace

TEST(StorePrograms, EveryRefusedSettingIsNamedAndEveryProgramStaysInCharge)
{
    bool auth_runs = geteuid() == 0 && have_service_user();
    for (const RefusedSetting &row : REFUSED_SETTINGS) {
        SCOPED_TRACE(row.named);
        TempDir dir;
        open_to_service_user(dir);
        std::string config = dir.file("lodgate.ini");
        write_file(config, configuration_with(row));
        chmod(config.c_str(), 0644);

        RunResult module = run_lodgate({}, RunOptions{dir.path, "", "lookup ann\nversion\nquit\n"});
        std::vector<std::string> lines = lines_of(module.out);
        ASSERT_EQ(lines.size(), 3u) << module.out;
        EXPECT_EQ(lines[0].rfind(std::string("-DEAD ") + row.named, 0), 0u) << lines[0];
        EXPECT_EQ(lines[1], "+OK Lodgate version 1.0i");
        EXPECT_EQ(module.exit_status, 0);

        std::string out;
        EXPECT_EQ(run_ldap_tool(std::string(LODGATE_ADMIN_BINARY) + " -c " + config + " user list",
                                "", &out), 1);
        EXPECT_EQ(out.rfind(std::string("lodgate-admin: ") + row.named, 0), 0u) << out;

        bool directory = std::string(configuration_with(row)).find("ldap") != std::string::npos;
        if (!auth_runs || (directory && !auth_finds_its_directory_program()))
            continue;
        EXPECT_EQ(auth_pam(config, "ann", "pw", out), 111);
        EXPECT_EQ(out.rfind(std::string("lodgate-auth: ") + row.named, 0), 0u) << out;
    }
    if (!auth_runs)
        GTEST_SKIP() << "lodgate-auth needs root and the lodgate user";
    if (!auth_finds_its_directory_program())
        GTEST_SKIP() << "lodgate-auth looks for lodgate-auth-ldap in " << LODGATE_LIBEXECDIR
                     << ": configure with -DLODGATE_LIBEXECDIR=<build directory>";
}

// Checkpassword mode on the directory is Dovecot's test (auth_dovecot_ldap):
// here pam mode, as saslauthd and Exim run it.
TEST(StorePrograms, LodgateAuthChecksOnTheDirectoryAsPamRunsIt)
{
    if (geteuid() != 0 || !have_service_user())
        GTEST_SKIP() << "lodgate-auth needs root and the lodgate user";
    if (!auth_finds_its_directory_program())
        GTEST_SKIP() << "configure with -DLODGATE_LIBEXECDIR=<build directory>";
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(add_store_tree(*server, "ou=site"));
    TempDir dir;
    open_to_service_user(dir);
    LdapSettings ldap = slapd_store_settings(*server, server->uri, "ou=site").ldap;
    ldap.bind_password_file = dir.file("bind");
    write_file(ldap.bind_password_file, std::string(SLAPD_SERVICE_PASSWORD) + "\n");
    ASSERT_EQ(chown(ldap.bind_password_file.c_str(), 0, 0), 0);
    ASSERT_EQ(std::system(("chown lodgate " + ldap.bind_password_file).c_str()), 0);
    chmod(ldap.bind_password_file.c_str(), 0600);
    std::string config = dir.file("lodgate.ini");
    write_file(config, module_configuration(ldap));
    chmod(config.c_str(), 0644);
    auto admin = [&](const std::string &words, const std::string &input = "") {
        std::string out;
        return run_ldap_tool(std::string(LODGATE_ADMIN_BINARY) + " -c " + config + " " + words,
                             input, &out);
    };
    const std::string password = "Grüße, \"quoted\" and  spaced";
    ASSERT_EQ(admin("--password-stdin user add ann", password + "\n"), 0);
    ASSERT_EQ(admin("--password-stdin user add carol", password + "\n"), 0);
    ASSERT_EQ(admin("user disable carol"), 0);

    std::string out;
    EXPECT_EQ(auth_pam(config, "ann", password, out), 0) << out;
    EXPECT_EQ(auth_pam(config, "ann", password + "x", out), 1) << out;
    EXPECT_EQ(auth_pam(config, "nobody-here", password, out), 1) << out;
    EXPECT_EQ(auth_pam(config, "carol", password, out), 1) << out;

    ASSERT_EQ(admin("policy set lockout-threshold 2"), 0);
    auth_pam(config, "ann", "wrong-1", out);
    auth_pam(config, "ann", "wrong-2", out);
    EXPECT_EQ(auth_pam(config, "ann", password, out), 1) << "locked, yet accepted";

    ldap.uri = "ldap://127.0.0.1:9/";
    write_file(config, module_configuration(ldap));
    EXPECT_EQ(auth_pam(config, "ann", password, out), 111);
    EXPECT_NE(out.find("the directory at ldap://127.0.0.1:9/ does not answer"), std::string::npos)
        << out;
}

TEST(StorePrograms, LodgateLdapHoldsNoPasswordInItsArgumentsAndNoSaslPlugin)
{
    auto server = start_slapd();
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(add_store_tree(*server, "ou=site"));
    TempDir dir;
    LdapSettings ldap = slapd_store_settings(*server, server->uri, "ou=site").ldap;
    write_file(dir.file("lodgate.ini"), module_configuration(ldap));
    const std::string password = "spaced  pass-word 7";
    RunOptions options{dir.path, "", ""};
    ASSERT_EQ(lines_of(run_lodgate({"set", "dora", password}, options).out)[0],
              "+OK dora added to database.");
    EXPECT_EQ(lines_of(run_lodgate({"check", "dora", password}, options).out)[0]
                  .rfind("+OK dora config 0", 0), 0u);

    // A server that never answers keeps lodgate-ldap waiting, in view of
    // the process list.
    int port = 0;
    int silent = silent_listener(port);
    ldap.uri = "ldap://127.0.0.1:" + std::to_string(port) + "/";
    ldap.timeout_seconds = 2;
    write_file(dir.file("lodgate.ini"), module_configuration(ldap));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.path.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> words = {LODGATE_BINARY, "check", "dora", password};
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, LODGATE_BINARY, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    std::string shown;
    for (int i = 0; i < 200 && shown.find("-handover") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        shown = read_file("/proc/" + std::to_string(pid) + "/cmdline");
    }
    // Once it connects, libldap has started Cyrus SASL: with no mechanism
    // plugin loaded, since the store's binds are all simple.
    pollfd connecting{silent, POLLIN, 0};
    ASSERT_EQ(poll(&connecting, 1, 5000), 1) << "lodgate-ldap did not connect";
    std::string maps = read_file("/proc/" + std::to_string(pid) + "/maps");
    EXPECT_EQ(maps.find("/sasl2/"), std::string::npos) << "a SASL plugin was loaded";
    waitpid(pid, nullptr, 0);
    close(silent);
    EXPECT_NE(shown.find("-handover"), std::string::npos) << "lodgate-ldap was not seen";
    EXPECT_EQ(shown.find("pass-word"), std::string::npos) << shown;
}
