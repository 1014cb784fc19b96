// Floor of the pipe: answers each line of standard input with one flushed
// line of standard output, as the module answers its daemon.
#include <cstdio>

int main()
{
    char line[512];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        std::fputs("+OK ", stdout);
        std::fputs(line, stdout);
        std::fflush(stdout);
    }
    return 0;
}
