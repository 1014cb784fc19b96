#include "auth/service_session.h"

#include <string>

#include "accountdb/account_db.h"
#include "config/named_configuration.h"
#include "config/settings.h"
#include "log/trace_log.h"
#include "platform/system_directory.h"

namespace {

// The name under which the system directory's first candidate is looked
// for, and the trace log's name when the configuration gives a path.
constexpr const char PROGRAM_BASE_NAME[] = "lodgate_auth";

std::string system_configuration_directory()
{
    std::string directory = DEFAULT_SYSTEM_DIRECTORY;
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    return directory;
}

}  // namespace

int start_service_work(const char *config_file)
{
    if (config_file != nullptr)
        return load_named_configuration(config_file);
    std::string directory = system_configuration_directory();
    return load_configuration(directory.c_str(), PROGRAM_BASE_NAME);
}

void finish_service_work()
{
    account_db_close();
    free_configuration();
    close_log_file();
}
