#include "platform/host_name.h"

#include <climits>

#include <unistd.h>

const std::string &host_name()
{
    static const std::string name = [] {
        char text[HOST_NAME_MAX + 1] = {};
        return gethostname(text, sizeof text - 1) == 0 ? std::string(text) : std::string();
    }();
    return name;
}
