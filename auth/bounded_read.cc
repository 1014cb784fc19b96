#include "auth/bounded_read.h"

#include <cerrno>

#include <unistd.h>

int read_all_bounded(int fd, std::size_t limit, SecretText &secret)
{
    // Sized once, so that no reallocation leaves a copy behind.
    secret.bytes.assign(limit + 2, '\0');
    secret.length = 0;
    while (secret.length <= limit) {
        ssize_t got = ::read(fd, secret.bytes.data() + secret.length, limit + 1 - secret.length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return 0;
        if (got == 0)
            break;
        secret.length += static_cast<std::size_t>(got);
    }
    secret.bytes[secret.length] = '\0';
    return 1;
}
