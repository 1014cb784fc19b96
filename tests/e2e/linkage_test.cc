// How the module is linked: a daemon may start it for every login, so by
// default it is a static PIE, which starts without the dynamic loader and
// still at a random address.
#include <cstring>
#include <elf.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct ElfFacts {
    bool read = false;
    Elf64_Half type = ET_NONE;
    bool has_interpreter = false;
    bool has_dynamic = false;
    int needed = 0;  // DT_NEEDED entries: shared libraries it asks for
};

template <typename T>
bool read_at(const std::vector<char> &file, std::size_t offset, T &value)
{
    if (offset > file.size() || file.size() - offset < sizeof value)
        return false;
    std::memcpy(&value, file.data() + offset, sizeof value);
    return true;
}

void read_dynamic(const std::vector<char> &file, const Elf64_Phdr &segment, ElfFacts &facts)
{
    facts.has_dynamic = true;
    for (std::size_t at = segment.p_offset; at < segment.p_offset + segment.p_filesz;
         at += sizeof(Elf64_Dyn)) {
        Elf64_Dyn entry{};
        if (!read_at(file, at, entry) || entry.d_tag == DT_NULL)
            return;
        facts.needed += entry.d_tag == DT_NEEDED ? 1 : 0;
    }
}

ElfFacts read_elf(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ElfFacts facts;
    Elf64_Ehdr header{};
    if (!read_at(file, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64)
        return facts;
    facts.type = header.e_type;
    for (int i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment{};
        if (!read_at(file, header.e_phoff + i * std::size_t{header.e_phentsize}, segment))
            return facts;
        facts.has_interpreter = facts.has_interpreter || segment.p_type == PT_INTERP;
        if (segment.p_type == PT_DYNAMIC)
            read_dynamic(file, segment, facts);
    }
    facts.read = true;
    return facts;
}

TEST(ModuleLinkage, StaticModuleIsPositionIndependentAndNeedsNoLibrary)
{
    if (!LODGATE_STATIC_MODULE_BUILT)
        GTEST_SKIP() << "built with the module dynamically linked";
    ElfFacts facts = read_elf(LODGATE_BINARY);
    ASSERT_TRUE(facts.read) << LODGATE_BINARY;
    // ET_EXEC would be a fixed address: no randomisation of the program.
    EXPECT_EQ(facts.type, ET_DYN);
    EXPECT_FALSE(facts.has_interpreter);
    // A static PIE relocates itself through its dynamic section.
    EXPECT_TRUE(facts.has_dynamic);
    // A shared library named without an interpreter would leave its calls
    // unresolved: the program would crash at its first call.
    EXPECT_EQ(facts.needed, 0);
}

}  // namespace
