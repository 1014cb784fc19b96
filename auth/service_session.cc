#include "auth/service_session.h"

#include <string>

#include "config/named_configuration.h"
#include "config/settings.h"
#include "config/store_settings.h"
#include "log/trace_log.h"
#include "platform/account_stores.h"
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
    std::string directory = system_configuration_directory();
    int loaded = config_file != nullptr
                     ? load_named_configuration(config_file)
                     : load_configuration(directory.c_str(), PROGRAM_BASE_NAME);
    return loaded == 1 && configure_account_store() == 1 ? 1 : 0;
}

void finish_service_work()
{
    if (const AccountBackend *store = account_store())
        store->close();
    free_configuration();
    close_log_file();
}
