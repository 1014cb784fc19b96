#include "auth/privileges.h"

#include <cerrno>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

uid_t caller_uid = 0;
// The caller's descriptor 1 while it is hidden; close-on-exec.
int saved_output = -1;
// Where descriptor 1 points meanwhile: both ends, close-on-exec.
int hidden_output[2] = {-1, -1};

// Above the descriptors that callers hand over (checkpassword's 3 and 4).
constexpr int SAVED_DESCRIPTOR_FLOOR = 10;

bool service_user(struct passwd &entry, char *buffer, std::size_t size)
{
    struct passwd *found = nullptr;
    return getpwnam_r(SERVICE_USER, &entry, buffer, size, &found) == 0 && found != nullptr;
}

int open_null()
{
    int fd;
    do
        fd = ::open("/dev/null", O_RDWR);
    while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

int make_standard_descriptors_valid()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1)
            continue;
        int opened = open_null();
        if (opened < 0)
            return 0;
        // Every lower descriptor is valid by now, so the lowest free one is fd.
        if (opened != fd) {
            close(opened);
            return 0;
        }
    }
    return 1;
}

void remember_caller()
{
    caller_uid = getuid();
    // A password sits in memory: no core file, no ptrace by the caller.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

bool caller_may_choose_configuration()
{
    if (caller_uid == 0)
        return true;
    struct passwd entry{};
    char buffer[4096];
    return service_user(entry, buffer, sizeof buffer) && entry.pw_uid == caller_uid;
}

int leave_root()
{
    if (geteuid() != 0)
        return 1;
    struct passwd entry{};
    char buffer[4096];
    if (!service_user(entry, buffer, sizeof buffer) || entry.pw_uid == 0)
        return 0;
    if (setgid(entry.pw_gid) != 0 || initgroups(entry.pw_name, entry.pw_gid) != 0 ||
        setuid(entry.pw_uid) != 0)
        return 0;
    // setuid from root changes all three ids; make sure, and that there is
    // no way back.
    if (getuid() != entry.pw_uid || geteuid() != entry.pw_uid || getegid() != entry.pw_gid ||
        setuid(0) == 0)
        return 0;
    return 1;
}

int return_to_caller_ids()
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
        return 0;
    uid_t real, effective, saved;
    if (getresuid(&real, &effective, &saved) != 0 || effective != uid || saved != uid)
        return 0;
    return 1;
}

int hide_standard_output()
{
    saved_output = fcntl(1, F_DUPFD_CLOEXEC, SAVED_DESCRIPTOR_FLOOR);
    if (saved_output < 0)
        return 0;
    // A pipe that nobody reads, not /dev/null, which a broken host may
    // refuse: a check writes a few lines, far below a pipe's buffer, and a
    // full pipe would fail the write rather than wait.
    if (pipe2(hidden_output, O_CLOEXEC | O_NONBLOCK) != 0)
        return 0;
    return dup2(hidden_output[1], 1) == 1 ? 1 : 0;
}

int restore_standard_output()
{
    if (saved_output < 0)
        return 0;
    int moved = dup2(saved_output, 1);
    close(saved_output);
    saved_output = -1;
    for (int &fd : hidden_output) {
        close(fd);
        fd = -1;
    }
    return moved == 1 ? 1 : 0;
}
