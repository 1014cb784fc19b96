#include "auth/lodgate_auth.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "auth/auth_status.h"
#include "auth/caller_environment.h"
#include "auth/checkpassword.h"
#include "auth/failure_report.h"
#include "auth/pam_mode.h"
#include "auth/privileges.h"
#include "auth/service_session.h"
#include "auth/store_program.h"
#include "protocol/replies.h"

namespace {

constexpr const char USAGE[] =
    "usage: lodgate-auth [-c FILE] checkpassword PROG [ARGS...]\n"
    "       lodgate-auth [-c FILE] pam";

struct Arguments {
    const char *config_file = nullptr;
    const char *mode = nullptr;
    char **rest = nullptr;  // what follows the mode word, ended by nullptr
};

int checkpassword_mode(char **rest, const CallerEnvironment &caller)
{
    if (rest[0] == nullptr || rest[0][0] != '/')
        return report_failure(AUTH_MALFORMED, nullptr, "checkpassword needs a program's full path");
    return run_checkpassword(rest, caller);
}

int pam_mode(char **rest, const CallerEnvironment &caller)
{
    if (rest[0] != nullptr)
        return report_failure(AUTH_MALFORMED, nullptr, USAGE);
    return run_pam_mode(caller);
}

struct Mode {
    const char *name;
    int (*run)(char **rest, const CallerEnvironment &caller);
};

constexpr Mode MODES[] = {
    {"checkpassword", checkpassword_mode},
    {"pam", pam_mode},
};

// The module's trace log ends the process with exit(0) when it cannot open
// its file; for a password check that must never read as success.
bool finished = false;

void refuse_unplanned_exit()
{
    if (finished)
        return;
    report_failure(AUTH_TEMPORARY, nullptr, "the trace log could not be opened");
    _exit(AUTH_TEMPORARY);
}

int parse_arguments(int argc, char **argv, Arguments &arguments)
{
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "-c") == 0) {
        arguments.config_file = argv[i + 1];
        i += 2;
    }
    if (i >= argc)
        return 0;
    arguments.mode = argv[i];
    arguments.rest = argv + i + 1;
    return 1;
}

const Mode *find_mode(const char *name)
{
    for (const Mode &mode : MODES)
        if (std::strcmp(mode.name, name) == 0)
            return &mode;
    return nullptr;
}

// -c FILE relative to the caller's directory, before leaving it.
std::string absolute_path(const char *file)
{
    if (file[0] == '/')
        return file;
    char *directory = getcwd(nullptr, 0);
    std::string path = std::string(directory != nullptr ? directory : "") + "/" + file;
    std::free(directory);
    return path;
}

// The arguments for lodgate-auth-ldap, which starts in "/": -c's file as
// this process found it.
std::vector<char *> handed_arguments(int argc, char **argv, const Arguments &arguments,
                                     std::string &config_file)
{
    std::vector<char *> handed(argv, argv + argc);
    if (arguments.config_file != nullptr)
        handed[2] = config_file.data();
    handed.push_back(nullptr);
    return handed;
}

// Everything up to the account service: ids, descriptors, the directory,
// the configuration. AUTH_OK when the mode may run.
int prepare(int argc, char **argv, const Arguments &arguments, const CallerEnvironment &caller)
{
    if (arguments.config_file != nullptr && !caller_may_choose_configuration())
        return report_failure(AUTH_TEMPORARY, nullptr, "only root and lodgate may use -c");
    std::string config_file = arguments.config_file ? absolute_path(arguments.config_file) : "";
    if (!leave_root())
        return report_failure(AUTH_TEMPORARY, nullptr, "cannot switch to the lodgate user");
    // The caller's directory and umask are the caller's: init.log and new
    // database files must not land or open up there.
    umask(S_IRWXG | S_IRWXO);
    if (chdir("/") != 0 || !hide_standard_output())
        return report_failure(AUTH_TEMPORARY, nullptr, "cannot prepare the process");
    std::string fault;
    int started = start_service_work(arguments.config_file ? config_file.c_str() : nullptr, fault);
    if (started == SERVICE_IN_STORE_PROGRAM) {
        std::vector<char *> handed = handed_arguments(argc, argv, arguments, config_file);
        fault = run_store_program(handed.data(), caller);
    }
    if (started != SERVICE_READY)
        return report_failure(AUTH_TEMPORARY, nullptr, fault.c_str());
    return AUTH_OK;
}

}  // namespace

int run_lodgate_auth(int argc, char **argv)
{
    if (!make_standard_descriptors_valid())
        _exit(AUTH_TEMPORARY);
    remember_caller();
    replies_traced_only = true;
    CallerEnvironment caller = take_caller_environment();
    std::atexit(refuse_unplanned_exit);

    Arguments arguments;
    const Mode *mode = parse_arguments(argc, argv, arguments) ? find_mode(arguments.mode) : nullptr;
    int status = mode != nullptr ? prepare(argc, argv, arguments, caller)
                                 : report_failure(AUTH_MALFORMED, nullptr, USAGE);
    if (status == AUTH_OK)
        status = mode->run(arguments.rest, caller);
    finish_service_work();
    finished = true;
    return status;
}
