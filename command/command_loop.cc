#include "command/command_loop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/secret_text.h"
#include "command/base_name.h"
#include "command/dispatcher.h"
#include "command/option_words.h"
#include "command/store_program.h"
#include "log/product.h"
#include "protocol/replies.h"
#include "command/tokenizer.h"
#include "config/settings.h"
#include "config/store_settings.h"
#include "text/text.h"
#include "log/trace_log.h"
#include "platform/process.h"

bool keep_running = false;

namespace {

// One read takes at most 510 characters, line feed included; a line with
// more than 509 characters before its line feed cannot be one read, and is
// discarded whole, so that no tail of it runs as a command of its own.
constexpr int INPUT_LINE_MAX = 511;

// The two switches that act before the configuration is read, outside the
// command's own words. Returns false when the process is to end at once
// ("-version").
bool apply_start_up_switches(const WordList &arguments, const CommandSpan &span)
{
    for (int i = 0; i < arguments.count; ++i) {
        if (!is_option_place(span, i))
            continue;
        const char *word = arguments.words[i];
        if (same_text(word, "-version") == 0) {
            std::printf("Quorvane's Lodgate module, Version %s\n", VERSION_TEXT);
            std::fflush(stdout);
            return false;
        }
        if (same_text(word, "-debug") == 0) {
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

bool ends_in_line_feed(const char *line, std::size_t length)
{
    return length > 0 && line[length - 1] == '\n';
}

// Reads the rest of a line that did not fit one read, a read at a time, so
// that memory stays bounded however long it is. Returns its whole length
// before the line feed.
std::size_t discard_rest_of_line(char *line, std::size_t size, std::size_t read_so_far)
{
    std::size_t total = read_so_far;
    while (std::fgets(line, static_cast<int>(size), stdin) != nullptr) {
        std::size_t length = read_length(line, size);
        if (ends_in_line_feed(line, length))
            return total + length - 1;
        total += length;
    }
    return total;
}

// Answers a line too long to be a command; of its text only the length is
// logged, since it may hold a password.
void refuse_long_line(char *line, std::size_t size)
{
    std::size_t length = discard_rest_of_line(line, size, read_length(line, size));
    wipe_memory(line, size);
    log_error("Line of %zu characters discarded", length);
    reply_negative("-ERR Line too long.");
    negative_reply_given = false;
}

// False when the log file the options asked for could not be opened: the
// module then ends after its "-DEAD" line.
bool run_command_line_pass(const WordList &arguments)
{
    log_debug("Command line input..");
    if (apply_command_line_options(arguments) < 0)
        return false;
    dispatch_command(arguments);
    return true;
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
        std::size_t length = read_length(line, sizeof line);
        if (!ends_in_line_feed(line, length) && length + 1 == sizeof line) {
            refuse_long_line(line, sizeof line);
            continue;
        }
        if (has_inner_line_end(line, length)) {
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
    wipe_memory(line, sizeof line);
    return true;
}

// The process arguments as the commands read them; the originals stay
// only for the process list.
OwnedWordList copy_arguments(int argc, char **argv)
{
    OwnedWordList list;
    list.has_program_path = argc > 0 && argv[0] != nullptr;
    list.texts.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i)
        list.texts.emplace_back(argv[i] != nullptr ? argv[i] : "");
    if (list.texts.empty())
        list.texts.emplace_back();
    finish_word_list(list);
    return list;
}

// Other users can read a process's arguments; once copied, the password's
// bytes there are overwritten.
void hide_password_argument(char **argv, const CommandSpan &span)
{
    if (span.secret == 0)
        return;
    char *word = argv[span.secret];
    wipe_memory(word, std::strlen(word));
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
    CommandSpan span = find_command_span(*words);
    for (int i = 0; i < words->count; ++i) {
        if (is_option_place(span, i) && option_word(words->words[i]) == OptionWord::PATH) {
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
    CommandSpan span = find_command_span(words);
    for (int i = 0; i < words.count; ++i) {
        if (!is_option_place(span, i))
            continue;
        OptionWord option = option_word(words.words[i]);
        if (option == OptionWord::LOG) {
            log_level = same_text(word_at(words, i + 1), "debug") == 0 ? LOG_DEBUG : LOG_INFO;
            break;
        }
        if (option == OptionWord::DEBUG) {
            log_level = LOG_DEBUG;
            break;
        }
        if (option == OptionWord::LOG_PASSWORDS) {
            settings.log_passwords = true;
            warning_due = true;
        }
    }
    if (log_level != LOG_OFF && log_file == nullptr) {
        const char *directory = settings.work_path ? settings.work_path->c_str()
                                                   : find_work_path(&words);
        std::string directory_text = directory ? directory : "";
        if (open_log_file(directory ? directory_text.c_str() : nullptr,
                          base_name(word_at(words, 0), true)) == 0)
            return -1;
    }
    if (warning_due)
        log_debug("WARNING Log passwords set to true");
    return log_level;
}

namespace {

// The run once the arguments are known: start-up switches, configuration,
// the command-line pass and the terminal loop.
int run_arguments(OwnedWordList &owned, const CommandSpan &span)
{
    WordList arguments = owned.view();
    if (!apply_start_up_switches(arguments, span))
        return 0;
    const char *program_path = arguments.words[0];
    std::string program_name = base_name(program_path, true);
    const char *work_path = find_work_path(&arguments);
    std::string work_path_text = work_path ? work_path : "";
    int loaded = load_configuration(work_path ? work_path_text.c_str() : nullptr,
                                    program_name.c_str());
    if (loaded <= 0)
        return loaded == 0 ? 1 : 0;
    // An unknown store is answered at once; the commands then fail alone.
    if (configure_account_store() == STORE_IN_OTHER_PROGRAM)
        start_store_program(owned, span);

    bool command_line_pass = arguments.count > 1;
    do {
        if (command_line_pass) {
            command_line_pass = false;
            if (!run_command_line_pass(arguments))
                return 0;
        } else if (!run_terminal_pass(program_path)) {
            break;
        }
        negative_reply_given = false;
    } while (keep_running);

    shut_down();
    return 0;
}

}  // namespace

int run_lodgate(int argc, char **argv)
{
    set_stdout_text_mode();
    OwnedWordList owned = copy_arguments(argc, argv);
    CommandSpan span = find_command_span(owned.view());
    hide_password_argument(argv, span);
    return run_arguments(owned, span);
}

int run_handed_lodgate(int argc, char **argv)
{
    set_stdout_text_mode();
    OwnedWordList owned = copy_arguments(argc, argv);
    // Started alone, it hides the password as lodgate does; handed over,
    // its arguments hold none.
    hide_password_argument(argv, find_command_span(owned.view()));
    if (!take_handed_arguments(owned)) {
        reply_negative("-DEAD Unable to read the handed arguments");
        return 0;
    }
    return run_arguments(owned, find_command_span(owned.view()));
}
