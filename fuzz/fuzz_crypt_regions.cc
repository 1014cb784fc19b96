// libcrypt maps a fresh region for every yescrypt hash and unmaps it after;
// at the harness's cost that is about 260 page faults a hash, two hashes an
// input, and most of an input's time. Linked in with the link wrapping its
// mmap and munmap, the harness keeps the last region given back and hands
// it out again, zeroed as a new mapping would be, for the next of its size.
#include <sys/mman.h>

#include <cstddef>
#include <cstring>

// ld's --wrap names these. NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void *__real_mmap(void *address, size_t length, int protection, int flags, int fd,
                             off_t offset);
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __real_munmap(void *address, size_t length);

namespace {

struct Region {
    void *start = nullptr;
    std::size_t length = 0;
    int protection = 0;
};

Region handed_out;  // the last anonymous mapping made
Region kept;        // one given back, for the next of its size

bool anonymous(const void *address, int flags, int fd)
{
    return address == nullptr && fd == -1 && flags == (MAP_PRIVATE | MAP_ANONYMOUS);
}

}  // namespace

// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void *__wrap_mmap(void *address, size_t length, int protection, int flags, int fd,
                             off_t offset)
{
    if (!anonymous(address, flags, fd))
        return __real_mmap(address, length, protection, flags, fd, offset);
    if (kept.start != nullptr && kept.length == length && kept.protection == protection) {
        handed_out = kept;
        kept = {};
        std::memset(handed_out.start, 0, handed_out.length);
        return handed_out.start;
    }
    void *start = __real_mmap(address, length, protection, flags, fd, offset);
    if (start != MAP_FAILED)
        handed_out = {start, length, protection};
    return start;
}

// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __wrap_munmap(void *address, size_t length)
{
    if (address != nullptr && address == handed_out.start && length == handed_out.length &&
        kept.start == nullptr) {
        kept = handed_out;
        handed_out = {};
        return 0;
    }
    return __real_munmap(address, length);
}
