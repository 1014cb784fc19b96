#include "tests/child_spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

namespace {

struct Pipe {
    int ends[2] = {-1, -1};

    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    Pipe() = default;
    ~Pipe()
    {
        for (int end : ends)
            if (end >= 0)
                close(end);
    }
    bool open() { return pipe2(ends, O_CLOEXEC) == 0; }
    // The end this process keeps; the other closes with the record.
    int take(int end)
    {
        int kept = ends[end];
        ends[end] = -1;
        return kept;
    }
};

}  // namespace

int spawn_child(const std::string &file, const std::vector<std::string> &arguments,
                const std::string &directory, bool with_error, SpawnedChild &child)
{
    child = SpawnedChild{};
    Pipe input, output, error;
    if (!input.open() || !output.open() || (with_error && !error.open()))
        return -1;
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_adddup2(&actions, input.ends[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output.ends[1], 1);
    if (with_error)
        posix_spawn_file_actions_adddup2(&actions, error.ends[1], 2);
    bool search = file.find('/') == std::string::npos;
    int spawned = (search ? posix_spawnp : posix_spawn)(&child.pid, file.c_str(), &actions,
                                                         nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        child.pid = -1;
        return -1;
    }
    child.input = input.take(1);
    child.output = output.take(0);
    if (with_error)
        child.error = error.take(0);
    return 0;
}
