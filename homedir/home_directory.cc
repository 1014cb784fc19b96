#include "homedir/home_directory.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "protocol/replies.h"
#include "log/paths.h"
#include "text/text.h"
#include "log/trace_log.h"
#include "platform/directory_walk.h"
#include "platform/path_style.h"

namespace {

constexpr char PROBE_FILE_NAME[] = "test.tmp";
constexpr char WINDOWS_SEPARATOR = '\\';

// Refusals of a path as a whole, apart from the errno values of a step.
constexpr int REFUSED_RELATIVE = -1;
constexpr int REFUSED_PARENT = -2;

struct RefusalText {
    int code;
    const char *text;
};

// The reason after the path in the home-directory reply; any other code
// gives strerror's text.
constexpr RefusalText REFUSAL_TEXTS[] = {
    {REFUSED_RELATIVE, "Not an absolute path"},
    {REFUSED_PARENT, "Parent directory component refused"},
    {ELOOP, "Symbolic link refused"},
};

enum HomePathKind { HOME_LOCAL, HOME_LEFT_ALONE, HOME_REFUSED };

bool is_windows_style(char separator)
{
    return separator == WINDOWS_SEPARATOR;
}

bool is_separator(char c, char separator)
{
    // Windows itself takes '/' as a separator when it resolves a path.
    return c == separator || (is_windows_style(separator) && c == '/');
}

// ".." on POSIX; on Windows also "...", ". ." and the like, which the
// system trims to ".." or less.
bool is_parent_component(std::string_view component, char separator)
{
    if (!is_windows_style(separator))
        return component == "..";
    return std::count(component.begin(), component.end(), '.') >= 2 &&
           component.find_first_not_of(". ") == std::string_view::npos;
}

bool has_parent_component(std::string_view path, char separator)
{
    std::size_t begin = 0;
    for (std::size_t at = 0; at <= path.size(); ++at) {
        if (at < path.size() && !is_separator(path[at], separator))
            continue;
        if (is_parent_component(path.substr(begin, at - begin), separator))
            return true;
        begin = at + 1;
    }
    return false;
}

bool is_drive_letter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_absolute(const char *path, char separator)
{
    if (!is_windows_style(separator))
        return path[0] == separator;
    return is_drive_letter(path[0]) && path[1] == ':' && is_separator(path[2], separator);
}

// An empty path or a network path (\\server\share) is not provisioned.
bool is_left_alone(const char *path, char separator)
{
    return path[0] == '\0' ||
           (is_windows_style(separator) && path[0] == separator && path[1] == separator);
}

HomePathKind classify(const char *path, char separator, int &refusal)
{
    refusal = 0;
    if (has_parent_component(path, separator))
        refusal = REFUSED_PARENT;
    else if (is_left_alone(path, separator))
        return HOME_LEFT_ALONE;
    else if (!is_absolute(path, separator))
        refusal = REFUSED_RELATIVE;
    return refusal == 0 ? HOME_LOCAL : HOME_REFUSED;
}

const char *refusal_text(int code)
{
    for (const RefusalText &row : REFUSAL_TEXTS)
        if (row.code == code)
            return row.text;
    return std::strerror(code);
}

// Always 0, after the negative reply.
int refuse(const std::string &path, int code)
{
    reply_negative("-ERR Unable to create home directory '%s', %s", path.c_str(),
                   refusal_text(code));
    return 0;
}

// The root (C:\ or /), which is never created.
std::size_t walk_start(char separator)
{
    return is_windows_style(separator) ? 3 : 1;
}

// One directory of the walk: its name and the path up to it.
struct WalkStep {
    std::string name;
    std::string prefix;
};

// The steps below the root of a path that ends with a separator; the last
// is the home directory itself. Empty components (a//b) are no steps.
std::vector<WalkStep> walk_steps(const std::string &work, char separator)
{
    std::vector<WalkStep> steps;
    std::size_t begin = std::min(walk_start(separator), work.size());
    for (std::size_t at = work.find(separator, begin); at != std::string::npos;
         begin = at + 1, at = work.find(separator, begin)) {
        if (at > begin)
            steps.push_back({work.substr(begin, at - begin), work.substr(0, at)});
    }
    return steps;
}

std::string walk_root(const std::string &work, char separator)
{
    return work.substr(0, std::min(walk_start(separator), work.size()));
}

// Opens the directory at the end of the path without creating anything.
int enter_home_directory(const char *path, char separator, WalkedDirectory &directory)
{
    std::string work = with_trailing_backslash_with(path, separator);
    int error = open_walk_root(directory, walk_root(work, separator).c_str());
    for (const WalkStep &step : walk_steps(work, separator)) {
        if (error != 0)
            break;
        WalkedDirectory next;
        error = enter_walked_directory(directory, step.name.c_str(), step.prefix.c_str(), next);
        directory = std::move(next);
    }
    return error;
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
int probe_directory(const char *path, char separator, const std::string &probe)
{
    WalkedDirectory directory;
    if (int error = enter_home_directory(path, separator, directory); error != 0) {
        log_debug("Cannot enter {%s}, %s", path, refusal_text(error));
        return 0;
    }
    log_debug("Opening {%s}", probe.c_str());
    int error = create_probe_file(directory, PROBE_FILE_NAME, probe.c_str());
    if (error == EEXIST) {
        log_debug("Found {%s}, left as it was", probe.c_str());
        return 1;
    }
    if (error != 0)
        return 0;
    log_debug("Removing {%s}", probe.c_str());
    if (remove_probe_file(directory, PROBE_FILE_NAME, probe.c_str()) != 0)
        log_error("Error removing {%s}", probe.c_str());
    return 1;
}

// 0 after the negative reply, when a parent is missing or the step is a
// link or no directory; 1 with current at the step's directory, and the
// step in made when this walk created it.
int make_one_directory(WalkedDirectory &current, const WalkStep &step, int root_error,
                       MadeDirectories &made)
{
    const char *prefix = step.prefix.c_str();
    log_info("Create (%s)?", prefix);
    if (root_error != 0)
        return refuse(step.prefix, root_error);
    int error = make_walked_directory(current, step.name.c_str(), prefix);
    if (error == 0) {
        log_info("Created '%s' Directory", prefix);
        MadeDirectories::Made step_made{{}, step.name, step.prefix};
        if (copy_walked_directory(current, step_made.parent) == 0)
            made.made.push_back(std::move(step_made));
    } else if (error == EACCES) {
        log_info("Directory '%s' exists", prefix);
    } else if (error == ENOENT) {
        return refuse(step.prefix, error);
    }
    // Any other failure, EEXIST among them, is judged by entering it.
    WalkedDirectory next;
    if (int entered = enter_walked_directory(current, step.name.c_str(), prefix, next); entered)
        return refuse(step.prefix, entered);
    // Created owner-only, so a failure here leaves it no wider than that.
    if (error == 0) {
        if (int failed = set_walked_directory_mode(next, prefix, settings.home_mode); failed)
            log_error("Cannot set mode %04o on '%s', %s", settings.home_mode, prefix,
                      std::strerror(failed));
    }
    current = std::move(next);
    return 1;
}

}  // namespace

int home_directory_present_with(const char *path, char separator)
{
    if (path == nullptr)
        return 0;
    // A copy: the log writer may build a path of its own with join_path.
    std::string probe = join_path_with(path, PROBE_FILE_NAME, separator);
    log_info("Find home directory {%s}", path);
    int refusal = 0;
    HomePathKind kind = classify(path, separator, refusal);
    if (kind == HOME_LEFT_ALONE)
        return -1;
    // make_home_directory gives the reply.
    if (kind == HOME_REFUSED)
        return 0;
    if (probe_name_too_long(path, separator)) {
        log_info("Probe name for {%s} too long, directory taken as absent", path);
        return 0;
    }
    return probe_directory(path, separator, probe);
}

int home_directory_present(const char *path)
{
    return home_directory_present_with(path, PATH_SEPARATOR);
}

int make_home_directory_with(const char *path, char separator, MadeDirectories *made)
{
    if (path == nullptr)
        return 0;
    int refusal = 0;
    HomePathKind kind = classify(path, separator, refusal);
    if (kind == HOME_LEFT_ALONE)
        return 1;
    if (kind == HOME_REFUSED)
        return refuse(path, refusal);
    std::string work = with_trailing_backslash_with(path, separator);
    WalkedDirectory current;
    int root_error = open_walk_root(current, walk_root(work, separator).c_str());
    MadeDirectories walk;
    for (const WalkStep &step : walk_steps(work, separator)) {
        if (make_one_directory(current, step, root_error, walk) == 0) {
            remove_made_directories(walk);
            return 0;
        }
    }
    if (made != nullptr)
        for (MadeDirectories::Made &step : walk.made)
            made->made.push_back(std::move(step));
    return 1;
}

int make_home_directory(const char *path, MadeDirectories *made)
{
    return make_home_directory_with(path, PATH_SEPARATOR, made);
}

void remove_made_directories(MadeDirectories &made)
{
    for (auto step = made.made.rbegin(); step != made.made.rend(); ++step) {
        const char *path = step->path.c_str();
        if (int error = remove_walked_directory(step->parent, step->name.c_str(), path); error)
            log_error("Cannot remove '%s', %s", path, std::strerror(error));
        else
            log_info("Removed '%s' Directory", path);
    }
    made.made.clear();
}

const char *home_directory_refusal(const char *path)
{
    int refusal = 0;
    if (path == nullptr || classify(path, PATH_SEPARATOR, refusal) != HOME_REFUSED)
        return nullptr;
    return refusal_text(refusal);
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
