#include "bench/bench_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

void fail(const std::string &why)
{
    std::fprintf(stderr, "bench: %s\n", why.c_str());
    std::exit(1);
}

double since_us(clock_type::time_point start)
{
    return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
}

bool starts_with(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

Child::~Child()
{
    close_input();
    if (from_child >= 0)
        close(from_child);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
}

void Child::close_input()
{
    if (to_child >= 0)
        close(to_child);
    to_child = -1;
}

namespace {

std::vector<char *> argv_of(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// 0 with the child started; the pipes' ends are closed here either way.
int spawn_on_pipes(Child &child, const std::vector<std::string> &arguments, const std::string &cwd)
{
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return -1;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return -1;
    }
    std::vector<char *> argv = argv_of(arguments);
    // posix_spawn shares the driver's memory until the exec, so that a
    // start costs the same however large the driver has grown; fork would
    // copy its page tables first, and late figures would pay more than the
    // floors measured at the start.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    if (spawned != 0) {
        close(input[1]);
        close(output[0]);
        return -1;
    }
    child.pid = pid;
    child.to_child = input[1];
    child.from_child = output[0];
    return 0;
}

}  // namespace

void start_child(Child &child, const std::vector<std::string> &arguments, const std::string &cwd)
{
    if (spawn_on_pipes(child, arguments, cwd) != 0)
        fail("cannot start " + arguments[0]);
}

void write_all(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail("write to child");
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

bool read_line(Child &child, std::string &line)
{
    for (;;) {
        std::size_t end = child.buffer.find('\n', child.start);
        if (end != std::string::npos) {
            line.assign(child.buffer, child.start, end - child.start);
            child.start = end + 1;
            if (child.start > 65536) {
                child.buffer.erase(0, child.start);
                child.start = 0;
            }
            return true;
        }
        char chunk[65536];
        ssize_t got = read(child.from_child, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        child.buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string expect_line(Child &child)
{
    std::string line;
    if (!read_line(child, line))
        fail("child ended early");
    return line;
}

namespace {

// Waits for the child's exit: its status and resource use.
void reap(Child &child, Finished &result)
{
    int status = 0;
    rusage usage{};
    pid_t waited;
    while ((waited = wait4(child.pid, &status, 0, &usage)) < 0 && errno == EINTR) {
    }
    if (waited != child.pid)
        fail("wait4");
    child.pid = -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.cpu_us = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    result.max_rss_kib = usage.ru_maxrss;
}

void read_to_end(Child &child, std::string &output)
{
    char chunk[65536];
    ssize_t got;
    while ((got = read(child.from_child, chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        output.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace

int run_process_status(const std::vector<std::string> &arguments, const std::string &cwd,
                       Finished &result, const std::string &input)
{
    result = Finished{};
    auto start = clock_type::now();
    Child child;
    if (spawn_on_pipes(child, arguments, cwd) != 0)
        return -1;
    if (!input.empty())
        write_all(child.to_child, input.data(), input.size());
    child.close_input();
    read_to_end(child, result.output);
    reap(child, result);
    result.microseconds = since_us(start);
    return 0;
}

Finished run_process(const std::vector<std::string> &arguments, const std::string &cwd,
                     const std::string &input)
{
    Finished result;
    if (run_process_status(arguments, cwd, result, input) != 0)
        fail("cannot start " + arguments[0]);
    if (result.status != 0)
        fail("process " + arguments[0] + " failed: " + result.output);
    return result;
}

double run_number(const std::vector<std::string> &arguments, const std::string &cwd)
{
    Finished finished = run_process(arguments, cwd);
    char *end = nullptr;
    double value = std::strtod(finished.output.c_str(), &end);
    if (end == finished.output.c_str())
        fail("no number from " + arguments[0]);
    return value;
}

double finish_child(Child &child)
{
    child.close_input();
    Finished result;
    read_to_end(child, result.output);
    reap(child, result);
    if (result.status != 0)
        fail("a child ended with status " + std::to_string(result.status));
    return result.cpu_us;
}

double count_instructions(const std::vector<std::string> &arguments, const std::string &cwd,
                          const std::string &input, std::string &why)
{
    const char *perf = "/usr/bin/perf";
    if (access(perf, X_OK) != 0) {
        why = "perf is not installed";
        return -1;
    }
    char counts[] = "/tmp/lodgate-bench-perf.XXXXXX";
    int fd = mkstemp(counts);
    if (fd < 0)
        fail("cannot create a file for perf's counts");
    close(fd);
    std::vector<std::string> command = {perf, "stat", "-x", ",", "-e", "instructions", "-o",
                                        counts, "--"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    Child child;
    start_child(child, command, cwd);
    // Written from another thread while the replies are read, so that
    // neither pipe fills up with the other side waiting.
    std::thread writer([&] {
        write_all(child.to_child, input.data(), input.size());
        child.close_input();
    });
    std::string output;
    read_to_end(child, output);
    writer.join();
    finish_child(child);
    // CSV lines: the count (or "<not supported>"), its unit, the event, ...
    std::FILE *file = std::fopen(counts, "r");
    double count = -1;
    why = "perf stat printed no count";
    char line[512];
    while (file != nullptr && std::fgets(line, sizeof line, file) != nullptr) {
        if (line[0] == '#' || line[0] == '\n')
            continue;
        char *end = nullptr;
        double value = std::strtod(line, &end);
        if (end != line && *end == ',') {
            count = value;
            why.clear();
        } else {
            why = std::string("perf stat -e instructions: ") +
                  std::string(line, std::strcspn(line, ","));
        }
        break;
    }
    if (file != nullptr)
        std::fclose(file);
    std::remove(counts);
    return count;
}

int spawn_daemon(const std::vector<std::string> &arguments, const std::string &log, pid_t &pid)
{
    std::vector<char *> argv = argv_of(arguments);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // A session of its own: a daemon that signals its process group when it
    // ends reaches only itself, and the terminal's ^C does not reach it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? 0 : -1;
}
