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
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

// ld's --wrap names these. NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void *__real_mmap(void *address, size_t length, int protection, int flags, int fd,
                             off_t offset);
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void *__wrap_mmap(void *address, size_t length, int protection, int flags, int fd,
                             off_t offset);

namespace {

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

}  // namespace

// The region is mapped one huge page longer than asked and trimmed to an
// aligned start, so that every whole 2 MiB of it can be one page; the caller
// unmaps exactly what it asked for.
extern "C" void *__wrap_mmap(void *address, size_t length, int protection, int flags, int fd,
                             off_t offset)
{
    if (!is_hash_region(address, length, flags, fd))
        return __real_mmap(address, length, protection, flags, fd, offset);
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    std::uintptr_t size = round_up(length, page);
    void *mapped = __real_mmap(nullptr, size + HUGE_PAGE, protection, flags, fd, offset);
    if (mapped == MAP_FAILED)
        return __real_mmap(address, length, protection, flags, fd, offset);
    char *base = static_cast<char *>(mapped);
    std::size_t head = (HUGE_PAGE - reinterpret_cast<std::uintptr_t>(base) % HUGE_PAGE) % HUGE_PAGE;
    char *start = base + head;
    if (head > 0)
        munmap(base, head);
    munmap(start + size, HUGE_PAGE - head);  // never empty: head < HUGE_PAGE
    // Refused where the kernel has no transparent huge pages: plain pages then.
    madvise(start, size, MADV_HUGEPAGE);
    return start;
}
