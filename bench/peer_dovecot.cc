#include "bench/peer_dovecot.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "bench/peers.h"

namespace {

constexpr const char DOVECOT[] = "/usr/sbin/dovecot";
constexpr const char DOVEADM[] = "/usr/bin/doveadm";

int write_text(const std::string &path, const std::string &text, mode_t mode)
{
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
        return -1;
    bool written = std::fputs(text.c_str(), file) >= 0;
    return std::fclose(file) == 0 && written && chmod(path.c_str(), mode) == 0 ? 0 : -1;
}

// No cache, so that every login verifies the hash; no protocols, so that
// nothing listens but the auth sockets in base_dir.
std::string config_text(const std::string &base, const std::string &passdb)
{
    return "base_dir = " + base + "/run\n"
           "state_dir = " + base + "/state\n"
           "log_path = " + base + "/dovecot.log\n"
           "protocols =\n"
           "listen = 127.0.0.1\n"
           "ssl = no\n"
           "auth_cache_size = 0\n" +
           passdb +
           "userdb {\n"
           "  driver = static\n"
           "  args = uid=65534 gid=65534 home=/nonexistent\n"
           "}\n";
}

}  // namespace

bool dovecot_installed()
{
    return access(DOVECOT, X_OK) == 0 && access(DOVEADM, X_OK) == 0;
}

std::string dovecot_passwd_file_passdb(const std::string &dir, const std::string &name,
                                       const char *user, const std::string &hash)
{
    std::string path = dir + "/" + name + ".passwd";
    if (write_text(path, std::string(user) + ":{CRYPT}" + hash + "\n", 0644) != 0)
        fail("cannot write " + path);
    return "passdb {\n  driver = passwd-file\n  args = " + path + "\n}\n";
}

int dovecot_start(DovecotPeer &peer, const std::string &dir, const std::string &name,
                  const std::string &passdb, const char *user, const char *password,
                  std::string &why)
{
    if (!dovecot_installed()) {
        why = "Dovecot is not installed (Debian package dovecot-core)";
        return -1;
    }
    std::string base = dir + "/" + name;
    if (mkdir(base.c_str(), 0755) != 0 || chmod(base.c_str(), 0755) != 0) {
        why = "cannot make " + base;
        return -1;
    }
    peer.config = base + "/dovecot.conf";
    peer.log = base + "/dovecot.log";
    if (write_text(peer.config, config_text(base, passdb), 0644) != 0) {
        why = "cannot write " + peer.config;
        return -1;
    }
    if (spawn_daemon({DOVECOT, "-F", "-c", peer.config}, base + "/master.out", peer.pid) != 0) {
        why = "cannot start dovecot";
        return -1;
    }
    peer_daemon_started(peer.pid);
    std::string socket = base + "/run/auth-client";
    for (int tries = 0; tries < 100; ++tries) {
        Finished login;
        if (access(socket.c_str(), F_OK) == 0 &&
            run_process_status(dovecot_login_command(peer, user, password), "/", login) == 0 &&
            dovecot_accepted(login))
            return 0;
        usleep(50000);
    }
    why = "Dovecot did not accept the test user within 5 s; see " + peer.log;
    dovecot_stop(peer);
    return -1;
}

std::vector<std::string> dovecot_login_command(const DovecotPeer &peer, const char *user,
                                               const char *password)
{
    return {DOVEADM, "-c", peer.config, "auth", "test", user, password};
}

// doveadm exits 0 for an accepted password and 77 for a refused one.
bool dovecot_accepted(const Finished &login)
{
    return login.status == 0;
}

void dovecot_stop(DovecotPeer &peer)
{
    peer_daemon_stop(peer.pid);
}
