// Floor of process-per-login mode: a process that starts, reads one file
// (the configuration) and prints one line.
#include <cstdio>

int main(int argc, char **argv)
{
    std::size_t total = 0;
    if (argc > 1) {
        if (std::FILE *file = std::fopen(argv[1], "r")) {
            char buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
                total += n;
            std::fclose(file);
        }
    }
    std::printf("+OK %zu bytes\n", total);
    return 0;
}
