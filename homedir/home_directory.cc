#include "homedir/home_directory.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "protocol/replies.h"
#include "log/paths.h"
#include "log/text.h"
#include "log/trace_log.h"
#include "platform/path_style.h"
#include "platform/process.h"

namespace {

constexpr char PROBE_FILE_NAME[] = "test.tmp";
constexpr char WINDOWS_SEPARATOR = '\\';

bool is_windows_style(char separator)
{
    return separator == WINDOWS_SEPARATOR;
}

bool is_local_path(const char *path, char separator)
{
    if (is_windows_style(separator))
        return path[0] != '\0' && path[1] == ':';
    return path[0] == separator;
}

// Where the walk starts: the root (C:\ or /) is never created.
std::size_t walk_start(char separator)
{
    return is_windows_style(separator) ? 3 : 1;
}

// join_path would cut such a name and so probe some other file.
bool probe_name_too_long(const char *path, char separator)
{
    std::size_t length = std::strlen(path);
    bool ends_with_separator = length > 0 && path[length - 1] == separator;
    std::size_t needed = length + (ends_with_separator ? 0 : 1) + std::strlen(PROBE_FILE_NAME);
    return needed > PATH_TEXT_MAX - 1;
}

// Creates the probe file exclusively, so that a file of that name which is
// already there is neither emptied nor removed.
int probe_directory(const std::string &probe)
{
    log_debug("Opening {%s}", probe.c_str());
    errno = 0;
    std::FILE *file = traced_fopen(probe.c_str(), "wx");
    if (file == nullptr) {
        if (errno != EEXIST)
            return 0;
        log_debug("Found {%s}, left as it was", probe.c_str());
        return 1;
    }
    traced_fclose(file);
    log_debug("Removing {%s}", probe.c_str());
    if (std::remove(probe.c_str()) != 0)
        log_error("Error removing {%s}", probe.c_str());
    return 1;
}

// false after the negative reply, when a parent of prefix is missing.
bool make_one_directory(const std::string &prefix)
{
    errno = 0;
    log_info("Create (%s)?", prefix.c_str());
    int result = make_directory(prefix.c_str());
    int error = errno;
    if (result == 0) {
        log_info("Created '%s' Directory", prefix.c_str());
    } else if (error == EACCES) {
        log_info("Directory '%s' exists", prefix.c_str());
    } else if (error == ENOENT) {
        reply_negative("-ERR Unable to create home directory '%s', %s", prefix.c_str(),
                       std::strerror(error));
        return false;
    }
    // Any other failure, EEXIST among them, leaves the walk going.
    return true;
}

}  // namespace

int home_directory_present_with(const char *path, char separator)
{
    if (path == nullptr)
        return 0;
    // A copy: the log writer may build a path of its own with join_path.
    std::string probe = join_path_with(path, PROBE_FILE_NAME, separator);
    log_info("Find home directory {%s}", path);
    if (!is_local_path(path, separator))
        return -1;
    if (probe_name_too_long(path, separator)) {
        log_info("Probe name for {%s} too long, directory taken as absent", path);
        return 0;
    }
    return probe_directory(probe);
}

int home_directory_present(const char *path)
{
    return home_directory_present_with(path, PATH_SEPARATOR);
}

int make_home_directory_with(const char *path, char separator)
{
    if (path == nullptr)
        return 0;
    std::string work = with_trailing_backslash_with(path, separator);
    std::size_t start = std::min(walk_start(separator), work.size());
    // The working path ends with a separator, so the last prefix is the
    // home directory itself.
    for (std::size_t at = work.find(separator, start); at != std::string::npos;
         at = work.find(separator, at + 1)) {
        if (!make_one_directory(work.substr(0, at)))
            return 0;
    }
    return 1;
}

int make_home_directory(const char *path)
{
    return make_home_directory_with(path, PATH_SEPARATOR);
}

const char *with_trailing_backslash_with(const char *path, char separator)
{
    static char result[PATH_TEXT_MAX + 1];
    copy_bounded(result, path, PATH_TEXT_MAX - 1);
    std::size_t length = std::strlen(result);
    if (length == 0 || result[length - 1] != separator) {
        const char separator_text[2] = {separator, '\0'};
        append_bounded(result, separator_text, PATH_TEXT_MAX);
    }
    return result;
}

const char *with_trailing_backslash(const char *path)
{
    return with_trailing_backslash_with(path, PATH_SEPARATOR);
}
