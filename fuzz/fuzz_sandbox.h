// What the harnesses' file sandbox answers in place of the file system.
#pragma once

// While set, the trace log (fopen "a", open with O_APPEND) goes to
// /dev/null, the home-directory probe fails with probe_errno, and creating
// a directory fails with mkdir_errno (0: success); the home directory walk
// meets only directories. Other modes open the real file.
struct FuzzSandbox {
    bool active = false;
    int probe_errno = 0;
    int mkdir_errno = 0;
};

extern FuzzSandbox fuzz_sandbox;

// Stops the harness with the broken property on standard error.
[[noreturn]] void fuzz_fail(const char *property, const char *detail);
