#include "command/tokenizer.h"

#include "log/trace_log.h"

namespace {

void finish_list(OwnedWordList &list)
{
    list.pointers.clear();
    list.pointers.reserve(list.texts.size() + 1);
    for (const std::string &text : list.texts)
        list.pointers.push_back(text.c_str());
    if (!list.has_program_path)
        list.pointers[0] = nullptr;
    list.pointers.push_back(nullptr);
}

}  // namespace

// <word> { ' ' <word> }, where "..." groups spaces into a word and the
// quotes themselves are dropped.
OwnedWordList tokenize_line(const char *line, const char *program_path)
{
    OwnedWordList list;
    list.has_program_path = program_path != nullptr;
    // Commands have a handful of words: one allocation instead of growth.
    list.texts.reserve(8);
    list.texts.emplace_back(program_path ? program_path : "");
    std::string pending;
    bool inside_quotes = false;
    for (const char *c = line ? line : ""; *c != '\0' && *c != '\r' && *c != '\n'; ++c) {
        if (*c == '"') {
            inside_quotes = !inside_quotes;
        } else if (*c == ' ' && !inside_quotes) {
            list.texts.push_back(std::move(pending));
            pending.clear();
        } else {
            pending.push_back(*c);
        }
    }
    if (!pending.empty())
        list.texts.push_back(std::move(pending));
    finish_list(list);
    log_debug("Input count = %d", static_cast<int>(list.texts.size()) - 1);
    return list;
}
