#include "auth/secret_text.h"

#include <cerrno>

#include <unistd.h>

int read_all_bounded(int fd, std::size_t limit, SecretText &secret)
{
    // Reserved up front so that no reallocation leaves a copy behind.
    secret.bytes.reserve(limit + 1);
    char chunk[256];
    while (secret.bytes.size() <= limit) {
        std::size_t room = limit + 1 - secret.bytes.size();
        ssize_t got = ::read(fd, chunk, room < sizeof chunk ? room : sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            wipe_memory(chunk, sizeof chunk);
            return 0;
        }
        if (got == 0)
            break;
        secret.bytes.append(chunk, static_cast<std::size_t>(got));
    }
    wipe_memory(chunk, sizeof chunk);
    return 1;
}
