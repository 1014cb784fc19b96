#include "config/named_configuration.h"

#include <string>
#include <string_view>

#include <unistd.h>

#include "config/settings.h"

namespace {

constexpr std::string_view INI_SUFFIX = ".ini";

}  // namespace

int load_named_configuration(const char *file)
{
    std::string path = file != nullptr ? file : "";
    std::string::size_type slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? std::string(".")
                            : slash == 0                ? std::string("/")
                                                        : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() <= INI_SUFFIX.size() || !name.ends_with(INI_SUFFIX))
        return 0;
    std::string stem = name.substr(0, name.size() - INI_SUFFIX.size());
    if (stem.find('.') != std::string::npos || ::access(path.c_str(), R_OK) != 0)
        return 0;
    if (load_configuration(directory.c_str(), stem.c_str()) != 1)
        return 0;
    std::string expected = directory.back() == '/' ? directory + name : directory + "/" + name;
    return configuration_file_path == expected ? 1 : 0;
}
