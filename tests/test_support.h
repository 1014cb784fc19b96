// Files and directories for tests.
#pragma once

#include <string>

// A fresh directory under TMPDIR (or /tmp), removed with all it holds when
// the record goes.
struct TempDir {
    std::string path;

    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // path/name
    std::string file(const std::string &name) const;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);
bool file_exists(const std::string &path);
