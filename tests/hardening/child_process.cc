#include "tests/hardening/child_process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/child_spawn.h"

namespace {

void close_fd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Reads what is there within timeout_ms; false at the end or on timeout.
bool read_more(ModuleProcess &process, int timeout_ms)
{
    pollfd wanted{process.output, POLLIN, 0};
    int ready = poll(&wanted, 1, timeout_ms);
    if (ready <= 0)
        return false;
    char chunk[65536];
    ssize_t got = read(process.output, chunk, sizeof chunk);
    if (got <= 0)
        return false;
    process.pending.append(chunk, static_cast<std::size_t>(got));
    return true;
}

bool take_line(ModuleProcess &process, std::string &line)
{
    std::size_t end = process.pending.find('\n');
    if (end == std::string::npos)
        return false;
    line = process.pending.substr(0, end);
    process.pending.erase(0, end + 1);
    return true;
}

}  // namespace

ModuleProcess::ModuleProcess(ModuleProcess &&other) noexcept
    : pid(other.pid), input(other.input), output(other.output), pending(std::move(other.pending))
{
    other.pid = -1;
    other.input = -1;
    other.output = -1;
}

ModuleProcess::~ModuleProcess()
{
    if (pid > 0)
        kill_module(*this);
    close_fd(input);
    close_fd(output);
}

bool start_module(ModuleProcess &process, const std::string &directory,
                  const std::vector<std::string> &args)
{
    // No other module inherits this one's standard input (spawn_child's
    // pipes), which would keep it from seeing its end.
    std::vector<std::string> words = {LODGATE_BINARY};
    words.insert(words.end(), args.begin(), args.end());
    signal(SIGPIPE, SIG_IGN);
    SpawnedChild child;
    if (spawn_child(LODGATE_BINARY, words, directory, false, child) != 0)
        return false;
    process.pid = child.pid;
    process.input = child.input;
    process.output = child.output;
    return true;
}

bool send_line(ModuleProcess &process, const std::string &line)
{
    return send_text(process, line + "\n");
}

bool send_text(ModuleProcess &process, const std::string &text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t put = write(process.input, text.data() + written, text.size() - written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        written += static_cast<std::size_t>(put);
    }
    return true;
}

std::string read_reply_line(ModuleProcess &process, int timeout_ms)
{
    std::string line;
    while (!take_line(process, line))
        if (!read_more(process, timeout_ms))
            return {};
    return line;
}

std::vector<std::string> read_reply(ModuleProcess &process, int timeout_ms)
{
    std::vector<std::string> lines;
    for (;;) {
        std::string line = read_reply_line(process, timeout_ms);
        if (line.empty())
            return lines;
        lines.push_back(line);
        if (line.rfind("+DATA", 0) != 0)
            return lines;
    }
}

std::vector<std::string> read_all_lines(ModuleProcess &process)
{
    std::vector<std::string> lines;
    std::string line;
    for (;;) {
        while (take_line(process, line))
            lines.push_back(line);
        if (!read_more(process, 10000))
            return lines;
    }
}

void kill_module(ModuleProcess &process)
{
    if (process.pid <= 0)
        return;
    kill(process.pid, SIGKILL);
    waitpid(process.pid, nullptr, 0);
    process.pid = -1;
}

int finish_module(ModuleProcess &process)
{
    close_fd(process.input);
    int status = 0;
    if (process.pid <= 0 || waitpid(process.pid, &status, 0) != process.pid)
        return -1;
    process.pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
