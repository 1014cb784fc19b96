// The configuration loader over whole files. Whatever the file holds, it is
// read, every value ends up without its line end and trailing blanks, the
// defaults are filled in and the host setting resolves or is refused.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "config/host.h"
#include "config/settings.h"
#include "fuzz/fuzz_sandbox.h"
#include "log/trace_log.h"
#include "tests/process_state.h"

namespace {

std::string directory;
std::string file_path;

void write_configuration(const std::uint8_t *bytes, std::size_t size)
{
    std::FILE *file = std::fopen(file_path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes, 1, size, file) != size || std::fclose(file) != 0)
        fuzz_fail("writing the configuration", file_path.c_str());
}

void check_value(const SettingText &value)
{
    if (!value)
        return;
    for (char c : *value)
        if (c == '\r' || c == '\n')
            fuzz_fail("no line end inside a value", value->c_str());
    if (!value->empty() && (value->back() == ' ' || value->back() == '\t'))
        fuzz_fail("no trailing blank on a value", value->c_str());
}

void check_settings()
{
    for (const SettingText *value :
         {&settings.work_path, &settings.group, &settings.uname, &settings.host,
          &settings.script_path, &settings.password_file, &settings.base_uid,
          &settings.home_path, &settings.script, &settings.shadow_file, &settings.sp_expire,
          &settings.sp_min, &settings.sp_max, &settings.sp_warn, &settings.sp_inact,
          &settings.account_db})
        check_value(*value);
    if (!settings.group || !settings.uname)
        fuzz_fail("group and uname have defaults", nullptr);
    if (log_level < LOG_OFF || log_level > LOG_DEBUG)
        fuzz_fail("the log level is one of the four", nullptr);
}

void remove_directory()
{
    std::remove(file_path.c_str());
    rmdir(directory.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/lodgate-fuzz-config-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        fuzz_fail("temporary directory", pattern);
    directory = pattern;
    file_path = directory + "/fuzz.ini";
    std::atexit(remove_directory);
    // The module's standard output is not what libFuzzer reports on.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        fuzz_fail("standard output", nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    reset_process_state();
    write_configuration(bytes, size);
    fuzz_sandbox.active = true;
    if (load_configuration(directory.c_str(), "fuzz") != 1)
        fuzz_fail("a readable file is read", nullptr);
    check_settings();
    HostName host = resolve_host();
    // A value that starts with one backslash is taken as it is (and later
    // refused by the service as no computer name).
    if (host && host[0] != u'\\')
        fuzz_fail("a resolved host starts with a backslash", nullptr);
    free_configuration();
    fuzz_sandbox.active = false;
    reset_process_state();
    return 0;
}
