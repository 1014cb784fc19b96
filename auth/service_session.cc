#include "auth/service_session.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "config/named_configuration.h"
#include "config/settings.h"
#include "config/store_settings.h"
#include "log/trace_log.h"
#include "stores/account_stores.h"
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

// Why no configuration was read: the log it names could not be opened, or
// the files cannot be read (the named one, or both system candidates).
std::string configuration_fault(const char *config_file, const std::string &directory,
                                int loaded)
{
    if (loaded < 0)
        return "cannot open the trace log that the configuration names";
    std::vector<std::string> candidates;
    if (config_file != nullptr)
        candidates.emplace_back(config_file);
    else
        candidates = {directory + "/" + PROGRAM_BASE_NAME + ".ini", directory + "/lodgate.ini"};
    std::string fault = "cannot read the configuration:";
    for (const std::string &candidate : candidates) {
        int error = ::access(candidate.c_str(), R_OK) == 0 ? 0 : errno;
        fault += " " + candidate + " (" + (error != 0 ? std::strerror(error) : "must be named NAME.ini") + ")";
    }
    return fault;
}

}  // namespace

int start_service_work(const char *config_file, std::string &fault)
{
    std::string directory = system_configuration_directory();
    int loaded = config_file != nullptr
                     ? load_named_configuration(config_file)
                     : load_configuration(directory.c_str(), PROGRAM_BASE_NAME);
    if (loaded != 1) {
        fault = configuration_fault(config_file, directory, loaded);
        return SERVICE_FAILED;
    }
    int chosen = choose_configured_store(fault);
    if (chosen == STORE_REFUSED)
        log_error("%s", fault.c_str());
    return chosen == STORE_READY              ? SERVICE_READY
           : chosen == STORE_IN_OTHER_PROGRAM ? SERVICE_IN_STORE_PROGRAM
                                              : SERVICE_FAILED;
}

void finish_service_work()
{
    if (const AccountBackend *store = account_store())
        store->close();
    free_configuration();
    close_log_file();
}
