// Cyrus saslauthd as a peer: a persistent daemon with the shadow mechanism,
// in a session of its own (it signals its whole process group when it
// ends), queried with testsaslauthd, one process per login.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "bench/bench_process.h"

bool saslauthd_installed();

struct SaslauthdPeer {
    std::string socket;
    pid_t pid = -1;
};

// Starts saslauthd with its socket in dir and waits until it accepts user's
// password. 0, or -1 with a plain message in why (also when not installed).
int saslauthd_start(SaslauthdPeer &peer, const std::string &dir, const char *user,
                    const char *password, std::string &why);
std::vector<std::string> saslauthd_login_command(const SaslauthdPeer &peer, const char *user,
                                                 const char *password);
bool saslauthd_accepted(const Finished &login);
void saslauthd_stop(SaslauthdPeer &peer);
