// Micro-benchmarks of the hot pure operations: the tokenizer, wildcard
// matching (with patterns that backtrack), the text conversions and the
// user information text.
#include <string>

#include <benchmark/benchmark.h>

#include "accounts/account_text.h"
#include "accounts/lookup_search.h"
#include "command/tokenizer.h"
#include "platform/text_conversion.h"

namespace {

void tokenize_check(benchmark::State &state)
{
    const char line[] = "check user054321 bench-Pass-1\n";
    for (auto _ : state) {
        OwnedWordList words = tokenize_line(line, "/usr/sbin/lodgate");
        benchmark::DoNotOptimize(words.pointers.data());
    }
}
BENCHMARK(tokenize_check);

void tokenize_set_quoted(benchmark::State &state)
{
    const char line[] = "set user054321 bench-Pass-1 home=\"/var/mail/home/user 054321\" "
                        "comment=\"A long comment with several words in it\" script=\"logon.cmd\"\n";
    for (auto _ : state) {
        OwnedWordList words = tokenize_line(line, "/usr/sbin/lodgate");
        benchmark::DoNotOptimize(words.pointers.data());
    }
}
BENCHMARK(tokenize_set_quoted);

void tokenize_longest_line(benchmark::State &state)
{
    std::string line;
    while (line.size() < 500)
        line += "word ";
    line += "\n";
    for (auto _ : state) {
        OwnedWordList words = tokenize_line(line.c_str(), "/usr/sbin/lodgate");
        benchmark::DoNotOptimize(words.pointers.data());
    }
}
BENCHMARK(tokenize_longest_line);

void match(benchmark::State &state, const std::string &text, const std::string &pattern)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(match_pattern(text.c_str(), pattern.c_str()));
}

const std::string LONG_NAME(500, 'a');

BENCHMARK_CAPTURE(match, star_alone, std::string("user054321"), std::string("*"));
BENCHMARK_CAPTURE(match, prefix_star, std::string("user054321"), std::string("user05*"));
BENCHMARK_CAPTURE(match, class_and_query, std::string("user054321"),
                  std::string("[a-u]ser0?4[^7]*1"));
BENCHMARK_CAPTURE(match, many_stars_long_miss, LONG_NAME, std::string(40, '*') + "b");
BENCHMARK_CAPTURE(match, star_a_repeated_long_miss, LONG_NAME,
                  [] {
                      std::string pattern;
                      for (int i = 0; i < 20; ++i)
                          pattern += "*a";
                      return pattern + "*b";
                  }());
BENCHMARK_CAPTURE(match, star_class_long_miss, LONG_NAME, std::string("*[a-z]*[a-z]*[a-z]*[0-9]"));

void narrow_to_wide(benchmark::State &state)
{
    const char text[] = "/var/mail/home/us\xc3\xa9r054321 \xe2\x82\xac comment";
    WCHAR wide[WIDE_TEXT_MAX];
    for (auto _ : state)
        benchmark::DoNotOptimize(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, WIDE_TEXT_MAX));
}
BENCHMARK(narrow_to_wide);

void wide_to_narrow(benchmark::State &state)
{
    const WCHAR text[] = WTEXT("/var/mail/home/us\u00e9r054321 \u20ac comment");
    char narrow[NARROW_TEXT_MAX + 1];
    for (auto _ : state)
        benchmark::DoNotOptimize(
            WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, NARROW_TEXT_MAX, nullptr, nullptr));
}
BENCHMARK(wide_to_narrow);

void to_wide_word(benchmark::State &state)
{
    WideText wide;
    for (auto _ : state)
        benchmark::DoNotOptimize(to_wide("user054321", wide));
}
BENCHMARK(to_wide_word);

void format_info(benchmark::State &state)
{
    USER_INFO_1 record{};
    WCHAR name[] = WTEXT("user054321");
    WCHAR home[] = WTEXT("/var/mail/home/user054321");
    WCHAR comment[] = WTEXT("Bench account 54321");
    WCHAR script[] = WTEXT("logon.cmd");
    record.usri1_name = name;
    record.usri1_home_dir = home;
    record.usri1_comment = comment;
    record.usri1_script_path = script;
    for (auto _ : state) {
        HeapText text;
        format_user_info(&record, user_info_room(30), text);
        if (!text)
            state.SkipWithError("format_user_info gave no text");
        benchmark::DoNotOptimize(text.get());
    }
}
BENCHMARK(format_info);

void format_info_shortened(benchmark::State &state)
{
    USER_INFO_1 record{};
    // Each within the conversion capacity, together past the line's room.
    std::u16string long_comment(450, u'c');
    std::u16string long_home(450, u'h');
    WCHAR name[] = WTEXT("user054321");
    record.usri1_name = name;
    record.usri1_home_dir = long_home.data();
    record.usri1_comment = long_comment.data();
    for (auto _ : state) {
        HeapText text;
        format_user_info(&record, user_info_room(30), text);
        if (!text)
            state.SkipWithError("format_user_info gave no text");
        benchmark::DoNotOptimize(text.get());
    }
}
BENCHMARK(format_info_shortened);

}  // namespace

BENCHMARK_MAIN();
