#include "auth/failure_report.h"

#include <cstdio>
#include <string>

namespace {

// A name from the caller must not forge a second log line.
std::string printable(const char *text)
{
    std::string shown(text);
    for (char &c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return shown;
}

}  // namespace

int report_failure(int status, const char *user, const char *reason)
{
    if (user != nullptr)
        std::fprintf(stderr, "lodgate-auth: %s: %s\n", printable(user).c_str(), reason);
    else
        std::fprintf(stderr, "lodgate-auth: %s\n", reason);
    std::fflush(stderr);
    return status;
}
