#include "ldapstore/ldap_refusal_times.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

#include "log/trace_log.h"

namespace {

// The file holds this record as this host's integers: the slot that the
// next time takes, then the times in microseconds (0: none yet). Modules
// that write at once may each lose the other's time, which costs nothing.
struct RefusalRecord {
    std::uint32_t next = 0;
    std::array<std::uint32_t, REFUSAL_TIMES_KEPT> times{};
};

struct RefusalTimes {
    std::string path;
    int fd = -1;
    bool opened = false;   // the file was opened, or refused with a trace line
    RefusalRecord record;  // the file's as last read, or this process's own
    std::mt19937 random{std::random_device{}()};
};
RefusalTimes kept;

// Times that others could write would let them hold back refusals, so only
// a file of this process's user alone, one link, of the record's size (or
// new) is used.
const char *file_fault(int fd)
{
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return std::strerror(errno);
    bool sized = info.st_size == 0 || info.st_size == static_cast<off_t>(sizeof(RefusalRecord));
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1 || !sized)
        return "not a file of refusal times";
    // Root may use the file it handed to the directory's owner.
    if ((info.st_uid != geteuid() && geteuid() != 0) || (info.st_mode & 022) != 0)
        return "others may write it";
    return nullptr;
}

// Made by root (a check by hand), the file goes to the owner of its
// directory, as the database's files do, so that the checks that run as
// that user keep using it.
void give_to_directory_owner(int fd, const std::string &path)
{
    std::string::size_type slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat owner {}, info {};
    if (geteuid() == 0 && ::stat(directory.c_str(), &owner) == 0 && owner.st_uid != 0 &&
        fstat(fd, &info) == 0 && info.st_uid == 0 && fchown(fd, owner.st_uid, owner.st_gid) != 0)
        log_error("directory: refusal times in %s stay root's: %s", path.c_str(),
                  std::strerror(errno));
}

void open_file()
{
    kept.opened = true;
    if (kept.path.empty())
        return;
    int fd = ::open(kept.path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                    0600);
    if (fd >= 0)
        give_to_directory_owner(fd, kept.path);
    const char *fault = fd < 0 ? std::strerror(errno) : file_fault(fd);
    if (fault == nullptr) {
        kept.fd = fd;
        return;
    }
    if (fd >= 0)
        ::close(fd);
    log_error("directory: refusal times not kept in %s: %s; a module started for one check "
              "cannot wait out a wrong password's time",
              kept.path.c_str(), fault);
}

// Refreshes the record from the file; false when there is none.
bool read_file()
{
    if (!kept.opened)
        open_file();
    if (kept.fd < 0)
        return false;
    if (::pread(kept.fd, &kept.record, sizeof kept.record, 0) !=
        static_cast<ssize_t>(sizeof kept.record))
        kept.record = RefusalRecord{};
    return true;
}

}  // namespace

RefusalCounters refusal_counters;

std::string refusal_times_file(const std::string &account_db)
{
    if (account_db.empty())
        return {};
    std::string::size_type slash = account_db.rfind('/');
    return (slash == std::string::npos ? "" : account_db.substr(0, slash + 1)) +
           REFUSAL_TIMES_FILE_NAME;
}

void refusal_times_use_file(const std::string &path)
{
    if (kept.fd >= 0)
        ::close(kept.fd);
    kept.fd = -1;
    kept.opened = false;
    kept.path = path;
    kept.record = RefusalRecord{};
}

void note_refusal_time(std::chrono::microseconds took, std::chrono::microseconds limit)
{
    if (took.count() <= 0 || took >= limit)
        return;
    bool shared = read_file();
    std::uint32_t slot = kept.record.next % REFUSAL_TIMES_KEPT;
    kept.record.times[slot] = static_cast<std::uint32_t>(took.count());
    kept.record.next = (slot + 1) % REFUSAL_TIMES_KEPT;
    ++refusal_counters.noted;
    if (shared && ::pwrite(kept.fd, &kept.record, sizeof kept.record, 0) < 0)
        log_error("directory: refusal times not written to %s: %s", kept.path.c_str(),
                  std::strerror(errno));
}

bool pick_refusal_time(std::chrono::microseconds limit, std::chrono::microseconds &time)
{
    read_file();
    std::array<std::uint32_t, REFUSAL_TIMES_KEPT> usable{};
    std::size_t count = 0;
    for (std::uint32_t kept_time : kept.record.times)
        if (kept_time > 0 && kept_time < limit.count())
            usable[count++] = kept_time;
    if (count < REFUSAL_TIMES_NEEDED)
        return false;
    std::uniform_int_distribution<std::size_t> which(0, count - 1);
    time = std::chrono::microseconds(usable[which(kept.random)]);
    ++refusal_counters.picked;
    return true;
}
