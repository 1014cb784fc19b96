// Runs a command and then prints "maxrss <KiB>" of it on standard output.
// A fork of the large driver would lend its own resident size to the
// child's ru_maxrss (exec keeps the old peak); this process stays small.
//   rss_probe <program> <arguments>...
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;
    std::printf("maxrss %ld\n", usage.ru_maxrss);
    return 0;
}
