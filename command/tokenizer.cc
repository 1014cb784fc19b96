#include "command/tokenizer.h"

#include "log/trace_log.h"

#include <cstring>

#include "platform/secret_text.h"

OwnedWordList::~OwnedWordList()
{
    for (std::string &text : texts)
        wipe_memory(text.data(), text.capacity());
}

void finish_word_list(OwnedWordList &list)
{
    list.pointers.clear();
    list.pointers.reserve(list.texts.size() + 1);
    for (const std::string &text : list.texts)
        list.pointers.push_back(text.c_str());
    if (!list.has_program_path)
        list.pointers[0] = nullptr;
    list.pointers.push_back(nullptr);
}

// <word> { ' ' <word> }, where "..." groups spaces into a word and the
// quotes themselves are dropped.
OwnedWordList tokenize_line(const char *line, const char *program_path)
{
    OwnedWordList list;
    list.has_program_path = program_path != nullptr;
    // Commands have a handful of words: one allocation instead of growth.
    list.texts.reserve(8);
    list.texts.emplace_back(program_path ? program_path : "");
    const char *text = line ? line : "";
    // Room for the longest word up front: a word that grew would leave
    // copies of itself, perhaps of a password, in freed memory.
    std::size_t word_room = std::strlen(text);
    std::string pending;
    pending.reserve(word_room);
    bool inside_quotes = false;
    for (const char *c = text; *c != '\0' && *c != '\r' && *c != '\n'; ++c) {
        if (*c == '"') {
            inside_quotes = !inside_quotes;
        } else if (*c == ' ' && !inside_quotes) {
            list.texts.push_back(std::move(pending));
            pending = std::string();
            pending.reserve(word_room);
        } else {
            pending.push_back(*c);
        }
    }
    if (!pending.empty())
        list.texts.push_back(std::move(pending));
    // A short word is copied, not moved, out of pending's own buffer.
    wipe_memory(pending.data(), pending.capacity());  // NOLINT(bugprone-use-after-move)
    finish_word_list(list);
    log_debug("Input count = %d", static_cast<int>(list.texts.size()) - 1);
    return list;
}
