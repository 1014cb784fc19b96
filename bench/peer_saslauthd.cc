#include "bench/peer_saslauthd.h"

#include <unistd.h>

#include "bench/peers.h"

namespace {

constexpr const char SASLAUTHD[] = "/usr/sbin/saslauthd";
constexpr const char TESTSASLAUTHD[] = "/usr/sbin/testsaslauthd";
// Debian's own default number of worker processes (THREADS in
// /etc/default/saslauthd); credential caching stays off, as each login
// must verify the hash.
constexpr const char WORKERS[] = "5";

}  // namespace

bool saslauthd_installed()
{
    return access(SASLAUTHD, X_OK) == 0 && access(TESTSASLAUTHD, X_OK) == 0;
}

int saslauthd_start(SaslauthdPeer &peer, const std::string &dir, const char *user,
                    const char *password, std::string &why)
{
    if (!saslauthd_installed()) {
        why = "saslauthd is not installed (Debian package sasl2-bin)";
        return -1;
    }
    std::string mux_dir = dir + "/saslauthd";
    std::string log = dir + "/saslauthd.log";
    Finished made;
    if (run_process_status({"/bin/mkdir", "-p", mux_dir}, "/", made) != 0 || made.status != 0) {
        why = "cannot make " + mux_dir;
        return -1;
    }
    // -d keeps it in the foreground, so that it stays the driver's child.
    if (spawn_daemon({SASLAUTHD, "-a", "shadow", "-m", mux_dir, "-n", WORKERS, "-d"}, log,
                     peer.pid) != 0) {
        why = "cannot start saslauthd";
        return -1;
    }
    peer_daemon_started(peer.pid);
    peer.socket = mux_dir + "/mux";
    for (int tries = 0; tries < 100; ++tries) {
        Finished login;
        if (access(peer.socket.c_str(), F_OK) == 0 &&
            run_process_status(saslauthd_login_command(peer, user, password), "/", login) == 0 &&
            saslauthd_accepted(login))
            return 0;
        usleep(50000);
    }
    why = "saslauthd did not accept the test user within 5 s; see " + log;
    saslauthd_stop(peer);
    return -1;
}

std::vector<std::string> saslauthd_login_command(const SaslauthdPeer &peer, const char *user,
                                                 const char *password)
{
    return {TESTSASLAUTHD, "-f", peer.socket, "-u", user, "-p", password};
}

// testsaslauthd prints `0: OK "Success."` and exits 0 for an accepted
// password.
bool saslauthd_accepted(const Finished &login)
{
    return login.status == 0 && starts_with(login.output, "0: OK");
}

void saslauthd_stop(SaslauthdPeer &peer)
{
    peer_daemon_stop(peer.pid);
}
