// yescrypt's working memory in 2 MiB pages.
//
// libxcrypt maps a fresh region for every yescrypt hash (16 MiB at the
// default cost) and unmaps it afterwards. In 4 KiB pages that is 4,096 page
// faults per check and a TLB miss on most of the hash's random reads; in
// 2 MiB pages it is 8 faults, and a check costs a quarter to a third less.
// The hash itself is unchanged. When libcrypt is linked in, the link wraps
// mmap (-Wl,--wrap=mmap): of what is linked in, only libcrypt calls mmap by
// that name (SQLite calls mmap64). Any mapping that is not a hash region
// passes through untouched.
//
// A process that hashes again (a daemon's long-lived pipe, a run of sets)
// keeps the last region that libcrypt gives back (-Wl,--wrap=munmap) and
// hands it out for the next hash of that size: the kernel then neither
// zeroes 16 MiB again (a twelfth of a check) nor faults it in. yescrypt
// writes its whole region before it reads any of it. The kept region is
// left out of core dumps.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <mutex>

// ld's --wrap names these. NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void *__real_mmap(void *address, size_t length, int protection, int flags, int fd,
                             off_t offset);
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void *__wrap_mmap(void *address, size_t length, int protection, int flags, int fd,
                             off_t offset);
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __real_munmap(void *address, size_t length);
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __wrap_munmap(void *address, size_t length);

namespace {

struct Region {
    void *start = nullptr;
    std::size_t length = 0;
    int protection = 0;
};

std::mutex regions_lock;
Region handed_out;  // the last hash region given to libcrypt
Region kept;        // one that libcrypt gave back, for the next hash

// x86-64's transparent huge page; elsewhere the region is merely aligned.
constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;

bool is_hash_region(const void *address, std::size_t length, int flags, int fd)
{
    return address == nullptr && fd == -1 && length >= HUGE_PAGE &&
           flags == (MAP_PRIVATE | MAP_ANONYMOUS);
}

std::uintptr_t round_up(std::uintptr_t value, std::uintptr_t unit)
{
    return (value + unit - 1) & ~(unit - 1);
}

// The region is mapped one huge page longer than asked and trimmed to an
// aligned start, so that every whole 2 MiB of it can be one page; the caller
// unmaps exactly what it asked for.
void *map_hash_region(std::size_t length, int protection, int flags)
{
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    std::uintptr_t size = round_up(length, page);
    void *mapped = __real_mmap(nullptr, size + HUGE_PAGE, protection, flags, -1, 0);
    if (mapped == MAP_FAILED)
        return __real_mmap(nullptr, length, protection, flags, -1, 0);
    char *base = static_cast<char *>(mapped);
    std::size_t head = (HUGE_PAGE - reinterpret_cast<std::uintptr_t>(base) % HUGE_PAGE) % HUGE_PAGE;
    char *start = base + head;
    if (head > 0)
        __real_munmap(base, head);
    __real_munmap(start + size, HUGE_PAGE - head);  // never empty: head < HUGE_PAGE
    // Refused where the kernel has no transparent huge pages: plain pages then.
    madvise(start, size, MADV_HUGEPAGE);
    madvise(start, size, MADV_DONTDUMP);
    return start;
}

}  // namespace

extern "C" void *__wrap_mmap(void *address, size_t length, int protection, int flags, int fd,
                             off_t offset)
{
    if (!is_hash_region(address, length, flags, fd))
        return __real_mmap(address, length, protection, flags, fd, offset);
    std::lock_guard<std::mutex> hold(regions_lock);
    if (kept.start != nullptr && kept.length == length && kept.protection == protection) {
        handed_out = kept;
        kept = {};
        return handed_out.start;
    }
    void *start = map_hash_region(length, protection, flags);
    if (start != MAP_FAILED)
        handed_out = {start, length, protection};
    return start;
}

extern "C" int __wrap_munmap(void *address, size_t length)
{
    {
        std::lock_guard<std::mutex> hold(regions_lock);
        if (address != nullptr && address == handed_out.start && length == handed_out.length &&
            kept.start == nullptr) {
            kept = handed_out;
            handed_out = {};
            return 0;
        }
    }
    return __real_munmap(address, length);
}
