#include "command/command_loop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "command/base_name.h"
#include "command/dispatcher.h"
#include "command/product.h"
#include "command/replies.h"
#include "command/tokenizer.h"
#include "config/settings.h"
#include "log/text.h"
#include "log/trace_log.h"
#include "platform/process.h"

bool keep_running = false;

namespace {

// One read takes at most 510 characters, line feed included; the rest of a
// longer line is read as the next line.
constexpr int INPUT_LINE_MAX = 511;

bool is_option(const char *word, const char *plain)
{
    return same_text(word, plain) == 0 ||
           (word && word[0] == '-' && same_text(word + 1, plain) == 0);
}

// The two switches that act before the configuration is read. Returns
// false when the process is to end at once ("-version").
bool apply_start_up_switches(int argc, char **argv)
{
    for (int i = 0; i < argc; ++i) {
        if (same_text(argv[i], "-version") == 0) {
            std::printf("Quorvane's Lodgate module, Version %s\n", VERSION_TEXT);
            std::fflush(stdout);
            return false;
        }
        if (same_text(argv[i], "-debug") == 0) {
            std::printf("-debug found, logging to stdout, NB: don't use this option when "
                        "being run by vellsend or vellfetch!\n");
            std::fflush(stdout);
            echo_to_stdout = true;
            log_level = LOG_DEBUG;
        }
    }
    return true;
}

// The bytes fgets read: the buffer is filled with a non-NUL byte first, so
// the last NUL is fgets's own terminator and NUL bytes read stay visible.
// A line that ends in its line feed, or fills the buffer, holds no NUL.
std::size_t read_length(const char *line, std::size_t size)
{
    std::size_t length = std::strlen(line);
    if ((length > 0 && line[length - 1] == '\n') || length + 1 == size)
        return length;
    while (size > 0 && line[size - 1] != '\0')
        --size;
    return size > 0 ? size - 1 : 0;
}

// A NUL or CR before the line's end would cut the command short, so that
// "set bob pw\rx" would set the password "pw"; such a line is refused.
bool has_inner_line_end(const char *line, std::size_t length)
{
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        --length;
    return std::memchr(line, '\0', length) != nullptr ||
           std::memchr(line, '\r', length) != nullptr;
}

void run_command_line_pass(const WordList &arguments)
{
    log_debug("Command line input..");
    apply_command_line_options(arguments);
    dispatch_command(arguments);
}

// Reads lines until one holds a command and runs it. False at the end of
// standard input, where the module ends as after quit.
bool run_terminal_pass(const char *program_path)
{
    log_debug("Terminal input..");
    keep_running = true;
    char line[INPUT_LINE_MAX];
    for (;;) {
        std::memset(line, 'x', sizeof line);
        if (std::fgets(line, sizeof line, stdin) == nullptr) {
            log_info("End of input");
            keep_running = false;
            return false;
        }
        if (has_inner_line_end(line, read_length(line, sizeof line))) {
            reply_negative("-ERR Line holds a NUL or carriage return.");
            negative_reply_given = false;
            continue;
        }
        if (line[0] != '\n')
            break;
        reply_negative("-ERR Not a valid command (nocommand) use help");
        negative_reply_given = false;
    }
    OwnedWordList words = tokenize_line(line, program_path);
    dispatch_command(words.view());
    return true;
}

void shut_down()
{
    free_configuration();
    if (close_log_file() == 0)
        reply_negative("-DEAD Unable to close log file {%s}", std::strerror(errno));
}

}  // namespace

const char *find_work_path(const WordList *words)
{
    if (words == nullptr)
        return setting_text(settings.work_path);
    for (int i = 0; i < words->count; ++i) {
        if (is_option(words->words[i], "path")) {
            const char *next = word_at(*words, i + 1);
            settings.work_path = next ? SettingText(next) : std::nullopt;
            break;
        }
    }
    return setting_text(settings.work_path);
}

int apply_command_line_options(const WordList &words)
{
    bool warning_due = false;
    for (int i = 0; i < words.count; ++i) {
        const char *word = words.words[i];
        if (is_option(word, "log")) {
            log_level = same_text(word_at(words, i + 1), "debug") == 0 ? LOG_DEBUG : LOG_INFO;
            break;
        }
        if (is_option(word, "debug")) {
            log_level = LOG_DEBUG;
            break;
        }
        if (is_option(word, "log_passwords")) {
            settings.log_passwords = true;
            warning_due = true;
        }
    }
    if (log_level != LOG_OFF && log_file == nullptr) {
        const char *directory = settings.work_path ? settings.work_path->c_str()
                                                   : find_work_path(&words);
        std::string directory_text = directory ? directory : "";
        open_log_file(directory ? directory_text.c_str() : nullptr,
                      base_name(word_at(words, 0), true));
    }
    if (warning_due)
        log_debug("WARNING Log passwords set to true");
    return log_level;
}

int run_lodgate(int argc, char **argv)
{
    set_stdout_text_mode();
    if (!apply_start_up_switches(argc, argv))
        return 0;
    WordList arguments{argv, argc};
    std::string program_name = base_name(argv[0], true);
    const char *work_path = find_work_path(&arguments);
    std::string work_path_text = work_path ? work_path : "";
    if (load_configuration(work_path ? work_path_text.c_str() : nullptr,
                           program_name.c_str()) == 0)
        return 1;

    bool command_line_pass = argc > 1;
    do {
        if (command_line_pass) {
            command_line_pass = false;
            run_command_line_pass(arguments);
        } else if (!run_terminal_pass(argv[0])) {
            break;
        }
        negative_reply_given = false;
    } while (keep_running);

    shut_down();
    return 0;
}
