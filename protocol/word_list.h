// The words of one command as they travel to its handler.
#pragma once

#include <string>
#include <vector>

// words[0] is the program path (or none), the command's own words follow,
// and words[count] is a null entry that ends the list. A word may be empty.
struct WordList {
    const char *const *words = nullptr;
    int count = 0;
};

// Word index of the list, or nullptr past its end.
inline const char *word_at(const WordList &list, int index)
{
    if (index < 0 || index >= list.count)
        return nullptr;
    return list.words[index];
}

// A WordList that owns its words: what the tokenizer makes of a line read
// from standard input. The list stays valid while this record lives.
struct OwnedWordList {
    std::vector<std::string> texts;
    std::vector<const char *> pointers;
    bool has_program_path = false;

    OwnedWordList() = default;
    OwnedWordList(OwnedWordList &&) = default;
    OwnedWordList &operator=(OwnedWordList &&) = default;
    // The words may hold a password: they are wiped when the list goes.
    ~OwnedWordList();

    WordList view() const
    {
        return WordList{pointers.data(), static_cast<int>(pointers.size()) - 1};
    }
};

// Command handler: reads its arguments after command_index and writes its
// own replies. -1 when a required word is missing (nothing written; the
// dispatcher answers with the help listing), 0 after a negative reply, 1
// after success.
using CommandHandler = int (*)(const WordList &words, int command_index);
