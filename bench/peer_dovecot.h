// Dovecot's auth as a peer: a private instance (its own base_dir, state_dir
// and log, no protocols, no listeners) started in the foreground in a
// session of its own, queried with `doveadm auth test`, one process per
// login. The passdb block is the caller's, so that any passdb can be put
// against the same instance.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "bench/bench_process.h"

bool dovecot_installed();

struct DovecotPeer {
    std::string config;
    std::string log;
    pid_t pid = -1;
};

// Writes dir/<name>.passwd with one user and the hash, readable by Dovecot's
// auth process, and returns the passdb block that reads it with crypt(3).
std::string dovecot_passwd_file_passdb(const std::string &dir, const std::string &name,
                                       const char *user, const std::string &hash);
// Starts an instance in dir/<name> with this passdb block and waits until it
// accepts user's password. 0, or -1 with a plain message in why (also when
// Dovecot is not installed).
int dovecot_start(DovecotPeer &peer, const std::string &dir, const std::string &name,
                  const std::string &passdb, const char *user, const char *password,
                  std::string &why);
std::vector<std::string> dovecot_login_command(const DovecotPeer &peer, const char *user,
                                               const char *password);
bool dovecot_accepted(const Finished &login);
void dovecot_stop(DovecotPeer &peer);
