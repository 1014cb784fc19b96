// Floors of password work: a loop of crypt_rn verifies of one hash, or of
// new default-cost hashes (salt, then crypt). Prints the median microseconds
// of one operation, or with "mean" the whole loop's time over the count: the
// figure for many checks in a row is timed that way; with "cpu" the median
// processor time of one verify, which bounds the logins a machine's cores
// can serve.
//   floor_crypt verify <hash> <password> <count> [mean|cpu]
//   floor_crypt hash <count> [mean]
// "answer" verifies once for each line of standard input and answers it with
// one flushed line, as a pipe's checks are answered.
//   floor_crypt answer <hash> <password>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <crypt.h>
#include <time.h>

namespace {

crypt_data area;

double now_us(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

int answer(const char *hash, const char *password)
{
    char line[512];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        const char *out = crypt_rn(password, hash, &area, sizeof area);
        std::puts(out != nullptr && std::strcmp(out, hash) == 0 ? "+OK" : "-ERR");
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "answer") == 0)
        return answer(argv[2], argv[3]);
    if (argc < 3)
        return 2;
    bool verify = std::strcmp(argv[1], "verify") == 0;
    if (verify && argc < 5)
        return 2;
    int count = std::atoi(argv[verify ? 4 : 2]);
    const char *how = argc > (verify ? 5 : 3) ? argv[verify ? 5 : 3] : "";
    bool mean = std::strcmp(how, "mean") == 0;
    bool cpu = verify && std::strcmp(how, "cpu") == 0;
    clockid_t clock = cpu ? CLOCK_PROCESS_CPUTIME_ID : CLOCK_MONOTONIC;
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        double start = now_us(clock);
        const char *out = nullptr;
        if (verify) {
            out = crypt_rn(argv[3], argv[2], &area, sizeof area);
            if (out == nullptr || std::strcmp(out, argv[2]) != 0)
                return 1;
        } else {
            char salt[CRYPT_GENSALT_OUTPUT_SIZE];
            if (crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt) == nullptr)
                return 1;
            out = crypt_rn("bench-password", salt, &area, sizeof area);
            if (out == nullptr || out[0] != '$')
                return 1;
        }
        times.push_back(now_us(clock) - start);
    }
    if (times.empty())
        return 2;
    if (mean) {
        double total = 0;
        for (double time : times)
            total += time;
        std::printf("%.3f\n", total / static_cast<double>(times.size()));
        return 0;
    }
    std::sort(times.begin(), times.end());
    std::printf("%.3f\n", times[times.size() / 2]);
    return 0;
}
