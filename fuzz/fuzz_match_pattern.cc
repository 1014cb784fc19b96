// match_pattern against a second matcher written here from the documented
// rules: '?' one character, '*' any run, '[...]' and '[^...]' classes (a
// leading ']' or '-' is a member, bounds compare as signed bytes, an
// unclosed class matches nothing), '\' quotes the next character and a
// backslash at the end matches nothing. The input is text NUL pattern.
#include <cstring>
#include <string>
#include <vector>

#include "accounts/lookup_search.h"
#include "fuzz/fuzz_sandbox.h"

namespace {

// One element of a pattern: a literal, any character, any run, or a class.
struct PatternItem {
    enum Kind { LITERAL, ONE, RUN, CLASS, NOTHING } kind = LITERAL;
    char literal = 0;
    bool negated = false;
    std::vector<char> members;
    std::vector<std::pair<char, char>> ranges;
};

bool class_has(const PatternItem &item, char c)
{
    bool found = false;
    for (char member : item.members)
        found = found || member == c;
    auto value = static_cast<signed char>(c);
    for (auto [low, high] : item.ranges)
        found = found || (static_cast<signed char>(low) <= value &&
                          value <= static_cast<signed char>(high));
    return found != item.negated;
}

// The class after a '['; i ends past its ']'. False when it is unclosed.
bool parse_class(const std::string &pattern, std::size_t &i, PatternItem &item)
{
    item.kind = PatternItem::CLASS;
    if (i < pattern.size() && pattern[i] == '^') {
        item.negated = true;
        ++i;
    }
    char previous = 0;
    bool first = true;
    for (;; first = false) {
        if (i >= pattern.size())
            return false;
        char c = pattern[i];
        if (c == ']' && !first)
            break;
        bool range = !first && c == '-' && i + 1 < pattern.size() && pattern[i + 1] != ']';
        if (range) {
            item.ranges.push_back({previous, pattern[i + 1]});
            previous = pattern[i + 1];
            i += 2;
        } else {
            item.members.push_back(c);
            previous = c;
            ++i;
        }
    }
    ++i;
    return true;
}

std::vector<PatternItem> parse(const std::string &pattern)
{
    std::vector<PatternItem> items;
    for (std::size_t i = 0; i < pattern.size();) {
        PatternItem item;
        item.kind = PatternItem::LITERAL;
        char c = pattern[i++];
        if (c == '?') {
            item.kind = PatternItem::ONE;
        } else if (c == '*') {
            item.kind = PatternItem::RUN;
        } else if (c == '[') {
            if (!parse_class(pattern, i, item))
                item.kind = PatternItem::NOTHING;
        } else if (c == '\\') {
            if (i < pattern.size())
                item.literal = pattern[i++];
            else
                item.kind = PatternItem::NOTHING;
        } else {
            item.literal = c;
        }
        items.push_back(item);
        if (item.kind == PatternItem::NOTHING)
            break;
    }
    return items;
}

bool item_matches(const PatternItem &item, char c)
{
    switch (item.kind) {
    case PatternItem::LITERAL:
        return item.literal == c;
    case PatternItem::ONE:
        return true;
    case PatternItem::CLASS:
        return class_has(item, c);
    default:
        return false;
    }
}

// Dynamic programming over (items used, characters used).
bool reference_match(const std::string &text, const std::string &pattern)
{
    std::vector<PatternItem> items = parse(pattern);
    std::vector<bool> row(text.size() + 1, false);
    row[0] = true;
    for (const PatternItem &item : items) {
        std::vector<bool> next(text.size() + 1, false);
        for (std::size_t j = 0; j <= text.size(); ++j) {
            if (item.kind == PatternItem::RUN)
                next[j] = row[j] || (j > 0 && next[j - 1]);
            else
                next[j] = j > 0 && row[j - 1] && item_matches(item, text[j - 1]);
        }
        row = std::move(next);
    }
    return row[text.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    std::string input(reinterpret_cast<const char *>(bytes), size);
    std::size_t split = input.find('\0');
    std::string text = input.substr(0, split);
    std::string pattern = split == std::string::npos ? std::string() : input.substr(split + 1);
    pattern = pattern.substr(0, pattern.find('\0'));
    int result = match_pattern(text.c_str(), pattern.c_str());
    if (result < -1 || result > 1)
        fuzz_fail("match_pattern answers -1, 0 or 1", pattern.c_str());
    bool expected = reference_match(text, pattern);
    if ((result == 1) != expected) {
        std::string detail = "text {" + text + "} pattern {" + pattern + "} gave " +
                             std::to_string(result);
        fuzz_fail("match_pattern agrees with the documented rules", detail.c_str());
    }
    if (name_matches(pattern.c_str(), text.c_str()) != (pattern == "*" || expected))
        fuzz_fail("name_matches follows match_pattern", pattern.c_str());
    return 0;
}
