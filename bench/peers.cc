#include "bench/peers.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <ctime>
#include <unistd.h>

#include "bench/bench_process.h"

namespace {

// Fixed storage: the signal handler reads it.
constexpr int MAX_DAEMONS = 8;
volatile pid_t daemon_pids[MAX_DAEMONS];
volatile sig_atomic_t user_made = 0;
char peer_dir[256];
char state_path[512];

void write_state()
{
    std::FILE *file = std::fopen(state_path, "w");
    if (file == nullptr)
        return;
    for (pid_t pid : daemon_pids)
        if (pid > 0)
            std::fprintf(file, "pid %d\n", static_cast<int>(pid));
    if (user_made)
        std::fprintf(file, "user %s\n", PEER_USER);
    if (peer_dir[0] != '\0')
        std::fprintf(file, "dir %s\n", peer_dir);
    std::fclose(file);
}

// fork and exec only, so that the signal handler may run it.
void run_quietly(const char *program, const char *a, const char *b)
{
    pid_t pid = fork();
    if (pid == 0) {
        execl(program, program, a, b, static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid > 0)
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
}

bool reaped_within(pid_t pid, int tenths)
{
    for (int i = 0; i < tenths; ++i) {
        pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        timespec pause{0, 100000000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

void stop_pid(pid_t pid)
{
    kill(pid, SIGTERM);
    if (!reaped_within(pid, 50)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// Only kill, waitpid, nanosleep, fork, exec and unlink: the signal handler
// runs it too.
void undo_all()
{
    for (volatile pid_t &pid : daemon_pids) {
        pid_t current = pid;
        pid = 0;
        if (current > 0)
            stop_pid(current);
    }
    if (user_made) {
        user_made = 0;
        run_quietly("/usr/sbin/userdel", PEER_USER, nullptr);
    }
    if (peer_dir[0] != '\0') {
        run_quietly("/bin/rm", "-rf", peer_dir);
        peer_dir[0] = '\0';
    }
    if (state_path[0] != '\0')
        unlink(state_path);
}

void on_signal(int signal_number)
{
    undo_all();
    _exit(128 + signal_number);
}

}  // namespace

int peers_begin(const std::string &state_file, std::string &dir, std::string &why)
{
    if (geteuid() != 0) {
        why = "not run as root: the peers need a system user and root daemons";
        return -1;
    }
    if (state_file.size() >= sizeof state_path)
        fail("state file path too long");
    std::strcpy(state_path, state_file.c_str());
    char pattern[] = "/tmp/lodgate-bench-peers.XXXXXX";
    // The daemons' unprivileged users read the password file and sockets.
    if (mkdtemp(pattern) == nullptr || chmod(pattern, 0755) != 0) {
        why = std::string("cannot make a directory in /tmp: ") + std::strerror(errno);
        return -1;
    }
    std::strcpy(peer_dir, pattern);
    dir = pattern;
    std::atexit(undo_all);
    struct sigaction action{};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal_number, &action, nullptr);
    write_state();
    return 0;
}

int peer_user_create(const std::string &hash, std::string &why)
{
    if (getpwnam(PEER_USER) != nullptr) {
        why = std::string("a user ") + PEER_USER + " exists that this run did not make; " +
              "remove it with userdel " + PEER_USER;
        return -1;
    }
    user_made = 1;
    write_state();
    Finished done;
    if (run_process_status({"/usr/sbin/useradd", "-M", "-N", "-d", "/nonexistent", "-s",
                            "/usr/sbin/nologin", "-p", hash, PEER_USER},
                           "/", done) != 0 ||
        done.status != 0) {
        why = "useradd failed";
        return -1;
    }
    return 0;
}

void peer_daemon_started(pid_t pid)
{
    for (volatile pid_t &slot : daemon_pids) {
        if (slot <= 0) {
            slot = pid;
            write_state();
            return;
        }
    }
    kill(pid, SIGTERM);
    fail("too many peer daemons");
}

void peer_daemon_stop(pid_t &pid)
{
    if (pid <= 0)
        return;
    for (volatile pid_t &slot : daemon_pids)
        if (slot == pid)
            slot = 0;
    stop_pid(pid);
    write_state();
    pid = -1;
}

void peers_end()
{
    undo_all();
}
