#include "command/store_program.h"

#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "command/dispatcher.h"
#include "command/tokenizer.h"
#include "config/settings.h"
#include "config/store_settings.h"
#include "text/text.h"
#include "log/trace_log.h"
#include "platform/process.h"
#include "platform/secret_text.h"
#include "protocol/replies.h"

namespace {

// argv[1] and argv[2] of the program started: this word, then the
// descriptor's number.
constexpr const char HANDOVER_SWITCH[] = "-handover";
// What the process list shows in the password's place.
constexpr const char HIDDEN_WORD[] = "xxxx";
// A password word is at most a command line's length; this bounds a
// descriptor that holds something else.
constexpr std::size_t HANDOVER_MAX = 1 << 20;

int parse_descriptor(const std::string &text)
{
    int descriptor = -1;
    auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), descriptor);
    if (error != std::errc() || stop != text.data() + text.size() || descriptor < 0)
        return -1;
    return descriptor;
}

}  // namespace

void start_store_program(const OwnedWordList &arguments, const CommandSpan &span)
{
    const char *program = account_store_program();
    log_debug("Account service {%s} continues in {%s}", setting_text(settings.account_service),
              program);
    std::vector<const char *> handed(arguments.pointers);
    std::string descriptor;
    if (span.secret != 0) {
        int handover = open_handover(arguments.texts[static_cast<std::size_t>(span.secret)]);
        if (handover >= 0) {
            descriptor = std::to_string(handover);
            handed[static_cast<std::size_t>(span.secret)] = HIDDEN_WORD;
            handed.insert(handed.begin() + 1, {HANDOVER_SWITCH, descriptor.c_str()});
        }
    }
    // Without a descriptor the program is not started with the password.
    if (span.secret == 0 || !descriptor.empty())
        run_program_beside(program, handed.data());
    reply_negative("-DEAD Cannot start %s for account_service {%s}", program,
                   setting_text(settings.account_service));
}

int take_handed_arguments(OwnedWordList &arguments)
{
    std::vector<std::string> &texts = arguments.texts;
    if (texts.size() < 3 || texts[1] != HANDOVER_SWITCH)
        return 1;
    int descriptor = parse_descriptor(texts[2]);
    texts.erase(texts.begin() + 1, texts.begin() + 3);
    finish_word_list(arguments);
    CommandSpan span = find_command_span(arguments.view());
    std::string secret;
    if (descriptor < 0 || span.secret == 0 ||
        !take_handover(descriptor, HANDOVER_MAX, secret))
        return 0;
    std::string &word = texts[static_cast<std::size_t>(span.secret)];
    wipe_memory(word.data(), word.size());
    word.swap(secret);
    wipe_memory(secret.data(), secret.size());
    finish_word_list(arguments);
    return 1;
}
