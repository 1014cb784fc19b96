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
    if (loaded != 1)
        return 0;
    int configured = configure_account_store();
    // libldap would cost every login its loading; sites with a directory
    // point their mail servers at it directly.
    if (configured == 2)
        log_error("account_service {%s}: lodgate-auth reads the sqlite store only",
                  setting_text(settings.account_service));
    return configured == 1 ? 1 : 0;
}

void finish_service_work()
{
    if (const AccountBackend *store = account_store())
        store->close();
    free_configuration();
    close_log_file();
}
