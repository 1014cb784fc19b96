#include "command/option_words.h"

#include "text/text.h"

namespace {

struct OptionRow {
    const char *word;
    OptionWord option;
};

constexpr OptionRow OPTION_TABLE[] = {
    {"debug", OptionWord::DEBUG},
    {"path", OptionWord::PATH},
    {"log", OptionWord::LOG},
    {"log_passwords", OptionWord::LOG_PASSWORDS},
};

}  // namespace

OptionWord option_word(const char *word)
{
    if (word == nullptr)
        return OptionWord::NONE;
    const char *plain = word[0] == '-' ? word + 1 : word;
    for (const OptionRow &row : OPTION_TABLE)
        if (same_text(plain, row.word) == 0)
            return row.option;
    return OptionWord::NONE;
}

bool is_level_word(const char *word)
{
    return same_text(word, "debug") == 0 || same_text(word, "info") == 0 ||
           same_text(word, "error") == 0;
}
