// What the peer daemons share in a run: a private directory their own
// users can read, a system user holding the run's hash, and the undoing of
// both and of every daemon on any exit of the driver, also on ^C. A state
// file lists what is to be undone, for tools/bench to finish the job when
// the driver itself was killed.
#pragma once

#include <string>
#include <sys/types.h>

// The account the peers verify; created and removed by the run.
constexpr const char PEER_USER[] = "lodgate-bench";

// Makes the private directory (dir) and installs the cleanup. 0, or -1 with
// a plain message in why.
int peers_begin(const std::string &state_file, std::string &dir, std::string &why);
// Adds PEER_USER to the system with this hash in the shadow file; refuses a
// user of that name that the run did not make. 0, or -1 with why.
int peer_user_create(const std::string &hash, std::string &why);
// The daemon is killed by pid on any exit until peer_daemon_stop.
void peer_daemon_started(pid_t pid);
// SIGTERM to the daemon, reaped within a few seconds or killed; pid becomes -1.
void peer_daemon_stop(pid_t &pid);
// Stops the daemons left, removes the user and the directory.
void peers_end();
