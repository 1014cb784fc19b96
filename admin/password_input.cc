#include "admin/password_input.h"

#include <cstdio>
#include <cstring>

#include <termios.h>
#include <unistd.h>

#include "admin/admin.h"

namespace {

// Restores the terminal's echo on every path out of the prompt.
struct EchoOff {
    int fd;
    termios saved{};
    bool changed = false;

    explicit EchoOff(int terminal) : fd(terminal)
    {
        if (tcgetattr(fd, &saved) != 0)
            return;
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        changed = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;
    ~EchoOff()
    {
        if (changed)
            tcsetattr(fd, TCSAFLUSH, &saved);
    }
};

// One line without its line feed; false at end of input or when it is
// longer than a password may be.
bool read_line(std::FILE *input, SecretText &secret)
{
    secret.bytes.assign(PASSWORD_BYTES_MAX + 2, '\0');
    if (std::fgets(secret.bytes.data(), static_cast<int>(secret.bytes.size()), input) == nullptr)
        return false;
    secret.length = std::strlen(secret.bytes.data());
    if (secret.length > 0 && secret.bytes[secret.length - 1] == '\n')
        secret.bytes[--secret.length] = '\0';
    else if (secret.length > PASSWORD_BYTES_MAX)
        return false;
    return true;
}

bool prompt(const char *text, SecretText &secret)
{
    std::fputs(text, stderr);
    std::fflush(stderr);
    bool read = false;
    {
        EchoOff quiet(STDIN_FILENO);
        read = read_line(stdin, secret);
    }
    std::fputc('\n', stderr);
    return read;
}

}  // namespace

int read_new_password(bool from_stdin, SecretText &secret)
{
    if (from_stdin) {
        if (!read_line(stdin, secret))
            return admin_fail(ADMIN_FAILED, "no password line on standard input");
        return ADMIN_OK;
    }
    if (!isatty(STDIN_FILENO))
        return admin_fail(ADMIN_FAILED, "not a terminal; use --password-stdin");
    SecretText again;
    if (!prompt("New password: ", secret) || !prompt("Again: ", again))
        return admin_fail(ADMIN_FAILED, "no password was read");
    if (std::strcmp(secret.text(), again.text()) != 0)
        return admin_fail(ADMIN_FAILED, "the passwords differ");
    return ADMIN_OK;
}
