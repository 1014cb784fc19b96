// The mmap and munmap wrappers that give yescrypt's region huge pages and
// keep it for the next hash. This binary is linked with the same wraps, so
// its own calls go through them.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "hashing/password_hash.h"

namespace {

constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;
// libxcrypt's region for a default-cost yescrypt hash.
constexpr std::size_t YESCRYPT_REGION = 16801856;

struct Mapping {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    std::string flags;  // VmFlags of /proc/self/smaps
};

// The mapping that holds address; start == end when there is none.
Mapping mapping_at(const void *address)
{
    auto wanted = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    Mapping found;
    bool inside = false;
    std::string line;
    while (std::getline(smaps, line)) {
        unsigned long start = 0;
        unsigned long end = 0;
        // Only a mapping's own line reads as two hex numbers around '-'.
        if (std::sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2) {
            inside = wanted >= start && wanted < end;
            if (inside)
                found = {start, end, ""};
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            found.flags = line;
        }
    }
    return found;
}

bool kernel_has_huge_pages()
{
    return std::filesystem::exists("/sys/kernel/mm/transparent_hugepage/enabled");
}

void *map_private(std::size_t length)
{
    return mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
}

TEST(HashMemory, RegionStartsOnAHugePageAndIsKeptForTheNextHash)
{
    void *region = map_private(YESCRYPT_REGION);
    ASSERT_NE(region, MAP_FAILED);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(region) % HUGE_PAGE, 0u);
    std::memset(region, 0x5a, YESCRYPT_REGION);
    // Head and tail of the longer mapping are given back: the mapping is the
    // region, to the page, and stays out of core dumps.
    Mapping mapping = mapping_at(region);
    EXPECT_EQ(mapping.start, reinterpret_cast<std::uintptr_t>(region));
    EXPECT_EQ(mapping.end - mapping.start, (YESCRYPT_REGION + 4095) / 4096 * 4096);
    EXPECT_NE(mapping.flags.find(" dd"), std::string::npos) << mapping.flags;
    if (kernel_has_huge_pages()) {
        EXPECT_NE(mapping.flags.find(" hg"), std::string::npos) << mapping.flags;
    }
    ASSERT_EQ(munmap(region, YESCRYPT_REGION), 0);
    EXPECT_EQ(mapping_at(region).start, reinterpret_cast<std::uintptr_t>(region));

    // While one is kept, a region of another size is mapped and unmapped
    // for real.
    void *larger = map_private(2 * YESCRYPT_REGION);
    ASSERT_NE(larger, MAP_FAILED);
    EXPECT_NE(larger, region);
    ASSERT_EQ(munmap(larger, 2 * YESCRYPT_REGION), 0);
    EXPECT_EQ(mapping_at(larger).end, 0u);
    EXPECT_EQ(mapping_at(static_cast<char *>(larger) + 2 * YESCRYPT_REGION - 1).end, 0u);

    EXPECT_EQ(map_private(YESCRYPT_REGION), region);
    ASSERT_EQ(munmap(region, YESCRYPT_REGION), 0);
}

TEST(HashMemory, OtherMappingsPassThrough)
{
    void *small = map_private(HUGE_PAGE - 4096);
    void *shared = mmap(nullptr, 2 * HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                        -1, 0);
    ASSERT_NE(small, MAP_FAILED);
    ASSERT_NE(shared, MAP_FAILED);
    EXPECT_EQ(mapping_at(small).flags.find(" hg"), std::string::npos);
    EXPECT_EQ(mapping_at(shared).flags.find(" hg"), std::string::npos);
    EXPECT_EQ(munmap(small, HUGE_PAGE - 4096), 0);
    EXPECT_EQ(munmap(shared, 2 * HUGE_PAGE), 0);
}

// A hash made and verified through the wrapped region, twice over, so that
// the second hash runs in memory the first gave back.
TEST(HashMemory, HashesStillVerify)
{
    for (int round = 0; round < 2; ++round) {
        std::string stored;
        ASSERT_EQ(hash_password("region-Pass-1", stored), 0);
        EXPECT_EQ(stored.rfind(PASSWORD_HASH_PREFIX, 0), 0u) << stored;
        EXPECT_TRUE(verify_password("region-Pass-1", stored.c_str()));
        EXPECT_FALSE(verify_password("region-Pass-2", stored.c_str()));
    }
}

}  // namespace
