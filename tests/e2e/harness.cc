#include "tests/e2e/harness.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/child_spawn.h"

namespace {

void read_some(int &fd, std::string &into)
{
    char chunk[65536];
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got > 0) {
        into.append(chunk, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
    }
}

void write_some(int &fd, const std::string &input, size_t &written)
{
    ssize_t put = write(fd, input.data() + written, input.size() - written);
    if (put > 0)
        written += static_cast<size_t>(put);
    if ((put < 0 && errno != EINTR && errno != EAGAIN) || written == input.size()) {
        close(fd);
        fd = -1;
    }
}

// LODGATE_WRAPPER, e.g. "valgrind --error-exitcode=99 -q", split at blanks:
// the program that starts the binary, with its options.
std::vector<std::string> wrapper_words()
{
    std::vector<std::string> words;
    const char *wrapper = std::getenv("LODGATE_WRAPPER");
    std::istringstream text(wrapper ? wrapper : "");
    for (std::string word; text >> word;)
        words.push_back(word);
    return words;
}

}  // namespace

RunResult run_lodgate(const std::vector<std::string> &args, const RunOptions &options)
{
    // A wrapper cannot pass on another argv[0]; such runs go unwrapped.
    std::vector<std::string> argv_text;
    if (options.program_path.empty())
        argv_text = wrapper_words();
    bool wrapped = !argv_text.empty();
    if (wrapped)
        argv_text.push_back(LODGATE_BINARY);
    else
        argv_text.push_back(options.program_path.empty() ? LODGATE_BINARY : options.program_path);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    signal(SIGPIPE, SIG_IGN);
    SpawnedChild spawned;
    if (spawn_child(wrapped ? argv_text[0] : LODGATE_BINARY, argv_text, options.directory, true,
                    spawned) != 0)
        return {};
    pid_t child = spawned.pid;
    int in_fd = spawned.input, out_fd = spawned.output, err_fd = spawned.error;
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
    RunResult result;
    size_t written = 0;
    if (options.input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    while (out_fd >= 0 || err_fd >= 0) {
        pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            read_some(out_fd, result.out);
        if (fds[1].revents)
            read_some(err_fd, result.err);
        if (in_fd >= 0 && fds[2].revents)
            write_some(in_fd, options.input, written);
    }
    if (in_fd >= 0)
        close(in_fd);
    int status = 0;
    waitpid(child, &status, 0);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // The wrapper's own verdict (valgrind's --error-exitcode=99) fails the
    // test whether or not the test looks at the exit status.
    if (!wrapper_words().empty() && options.program_path.empty() && result.exit_status == 99)
        ADD_FAILURE() << "the wrapper found errors:\n" << result.err;
    return result;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> log_messages(const std::string &text)
{
    static const std::regex prefix(
        R"(^[ 123]\d \d\d:\d\d:\d\d \d{4}:\[\d+\](ERROR|INFO|DEBUG) )");
    std::vector<std::string> messages;
    for (const std::string &line : lines_of(text)) {
        std::smatch found;
        if (std::regex_search(line, found, prefix))
            messages.push_back(found[1].str() + " " + found.suffix().str());
        else
            messages.push_back("?" + line);
    }
    return messages;
}

bool log_has(const std::string &log_text, const std::string &level,
             const std::string &message)
{
    for (const std::string &entry : log_messages(log_text))
        if (entry == level + " " + message)
            return true;
    return false;
}
