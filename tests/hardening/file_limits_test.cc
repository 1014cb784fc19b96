// A file size limit that the trace log has reached: writes fail, the
// module still answers.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "tests/hardening/installation.h"

namespace {

// Lowers this process's file size limit, which the module inherits.
struct FileSizeLimit {
    rlimit saved{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit lowered{bytes, saved.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
};

TEST(FileLimits, FullLogLeavesTheModuleAnswering)
{
    Installation installation;
    const std::string full(4096, 'x');
    write_file(installation.directory.file("lodgate.log"), full);
    RunResult result;
    {
        FileSizeLimit limit(full.size());
        result = installation.run({}, "version\nquit\n");
    }
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(lines_of(result.out), (Lines{"+OK Lodgate version 1.0i", "+OK"}));
    EXPECT_EQ(installation.log(), full);
}

}  // namespace
