#include "log/trace_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "log/product.h"
#include "log/line_format.h"
#include "log/paths.h"
#include "text/text.h"
#include "platform/process.h"

int log_level = LOG_OFF;
std::FILE *log_file = nullptr;
bool echo_to_stdout = false;

namespace {

int process_id = -1;

// The path of the log file: 512 bytes, so that ".log" fits behind a joined
// path of 507 characters.
constexpr int LOG_PATH_MAX = 512;

int log_formatted(int level, const char *format, va_list arguments)
{
    if (log_level == LOG_OFF)
        return 0;
    // A line that neither the file nor the echo takes is not formatted.
    if (level > log_level && !echo_to_stdout)
        return 1;
    char message[LINE_BUFFER_SIZE];
    format_line(message, format, arguments);
    return log_write(message, level);
}

void write_line(std::FILE *stream, const char *message, int level)
{
    std::fprintf(stream, "%s:[%d]%s %s", log_time_text(), log_process_id(),
                 log_level_word(level), message);
    std::fflush(stream);
}

}  // namespace

int log_error(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result = log_formatted(LOG_ERROR, format, arguments);
    va_end(arguments);
    return result;
}

int log_info(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result = log_formatted(LOG_INFO, format, arguments);
    va_end(arguments);
    return result;
}

int log_debug(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result = log_formatted(LOG_DEBUG, format, arguments);
    va_end(arguments);
    return result;
}

int log_write(const char *message, int level)
{
    if (message == nullptr)
        return 0;
    if (level <= log_level) {
        // A line of any command may be the first: nothing can carry the
        // failure back, and the command must not go on past its "-DEAD".
        if (log_file == nullptr && open_log_file(nullptr, "init.log") == 0)
            std::exit(0);
        write_line(log_file, message, level);
    }
    if (echo_to_stdout)
        write_line(stdout, message, level);
    return 1;
}

int open_log_file(const char *directory, const char *name)
{
    char path[LOG_PATH_MAX];
    const char *joined = join_path(directory, name);
    if (name != nullptr && std::strchr(name, '.') != nullptr)
        copy_bounded(path, joined, LOG_PATH_MAX - 1);
    else
        std::snprintf(path, sizeof path, "%.507s.log", joined);

    close_log_file();
    if (log_level == LOG_OFF)
        log_level = LOG_INFO;
    log_file = open_log_stream(path);
    if (log_file == nullptr) {
        char line[LINE_BUFFER_SIZE];
        std::snprintf(line, sizeof line, "-DEAD Unable to create log file {%s,%s}\n", path,
                      std::strerror(errno));
        flatten_line_breaks(line);
        std::fputs(line, stdout);
        std::fflush(stdout);
        log_level = LOG_OFF;
        echo_to_stdout = false;
        return 0;
    }
    log_debug("Opening [%s]", path);
    log_info("%s version %s starts.", PRODUCT_NAME, VERSION_TEXT);
    return 1;
}

int close_log_file()
{
    if (log_file == nullptr)
        return 1;
    log_info("%s version %s ends.", PRODUCT_NAME, VERSION_TEXT);
    int result = traced_fclose(log_file);
    // The stream is gone even when fclose fails; writing to it again would
    // touch freed memory, so logging ends with it.
    log_file = nullptr;
    if (result != 0) {
        log_level = LOG_OFF;
        return 0;
    }
    return 1;
}

void set_log_level_word(const char *word)
{
    if (word == nullptr)
        return;
    if (same_text(word, "debug") == 0)
        log_level = LOG_DEBUG;
    else if (same_text(word, "error") == 0)
        log_level = LOG_ERROR;
    else
        log_level = LOG_INFO;
}

std::FILE *traced_fopen(const char *path, const char *mode)
{
    if (path == nullptr) {
        log_error("fopen called on NULL");
        errno = 0;
        return nullptr;
    }
    std::FILE *file = open_file(path, mode);
    // Callers report the open's own error text, which logging must not change.
    int open_error = errno;
    log_debug("fopen called on (%s) with style (%s) gives FILE * (%p)", path, mode,
              static_cast<void *>(file));
    errno = open_error;
    return file;
}

int traced_fclose(std::FILE *file)
{
    if (file == nullptr) {
        log_debug("fclose on NULL");
        errno = 0;
        return 1;
    }
    log_debug("fclose called on (%d)", fileno(file));
    return std::fclose(file);
}

const char *log_time_text()
{
    static char text[20];
    // ctime's work once a second, not once a line.
    static std::time_t shown = -1;
    std::time_t now = std::time(nullptr);
    if (now == shown && shown != -1)
        return text;
    shown = now;
    const char *full = std::ctime(&now);
    copy_bounded(text, full ? full + 8 : nullptr, sizeof text - 1);
    std::size_t length = std::strlen(text);
    if (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
        text[length - 1] = '\0';
    return text;
}

int log_process_id()
{
    if (process_id == -1)
        process_id = current_process_id();
    return process_id;
}

const char *log_level_word(int level)
{
    return level == LOG_ERROR ? "ERROR" : level == LOG_DEBUG ? "DEBUG" : "INFO";
}
