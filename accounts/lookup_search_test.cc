#include "accounts/lookup_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "protocol/replies.h"
#include "config/settings.h"
#include "log/trace_log.h"
#include "tests/scripted_account_service.h"

namespace {

class LookupSearchTest : public testing::Test {
protected:
    void SetUp() override { reset_command_state(); }
    void TearDown() override
    {
        EXPECT_TRUE(account_script.outstanding_buffers.empty());
        EXPECT_EQ(account_script.unknown_frees, 0);
    }
};

ScriptedUser named(const char *name)
{
    ScriptedUser user;
    user.name = wide(name);
    return user;
}

ScriptedUser with_comment(const char *name, const char *comment)
{
    ScriptedUser user = named(name);
    user.comment = wide(comment);
    return user;
}

TEST_F(LookupSearchTest, LookupWithoutUserAsksForHelp)
{
    TraceCapture trace(LOG_INFO);
    CommandRun run = run_command(do_lookup, {"lookup"});
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(trace.has("INFO", "Performing lookup"));
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(LookupSearchTest, LookupAnswersWithTheAccountData)
{
    ScriptedUser user = with_comment("bob", "Sales");
    user.home_dir = wide("/home/bob");
    account_script.info_answers.push_back({NERR_Success, {user}, false});
    CommandRun run = run_command(do_lookup, {"lookup", "bob", "extra"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "+OK bob config 0 home=\"/home/bob\" comment=\"Sales\"\n");
    ASSERT_EQ(calls_of("NetUserGetInfo").size(), 1u);
    EXPECT_EQ(calls_of("NetUserGetInfo")[0].server, wide("\\\\TESTHOST"));
    EXPECT_EQ(calls_of("NetUserGetInfo")[0].user, wide("bob"));
    EXPECT_EQ(calls_of("NetUserGetInfo")[0].level, 1u);

    account_script.info_answers.push_back({NERR_Success, {named("bob")}, false});
    run = run_command(do_lookup, {"lookup", "bob"});
    EXPECT_EQ(run.out, "+OK bob config 0\n");
}

// A daemon bounces the mail on "not found": a service that cannot answer
// gets check's reply for the fault instead.
TEST_F(LookupSearchTest, LookupSaysNotFoundOnlyForAMissingAccount)
{
    const std::pair<DWORD, const char *> rows[] = {
        {NERR_UserNotFound, "-ERR User Nobody not found.\n"},
        {ERROR_BAD_NETPATH, "-ERR 1311:Unknown error has occurred.\n"},
        {NERR_InternalError, "-ERR 2140:Unknown error has occurred.\n"}};
    for (auto [result, reply] : rows) {
        negative_reply_given = false;
        account_script.info_answers.push_back({result, {}, true});
        CommandRun run = run_command(do_lookup, {"lookup", "Nobody"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, reply);
    }
}

TEST_F(LookupSearchTest, LookupWithoutHostAsksTheLocalComputer)
{
    settings.host = "";
    account_script.info_answers.push_back({NERR_Success, {named("bob")}, false});
    run_command(do_lookup, {"lookup", "bob"});
    EXPECT_EQ(calls_of("NetUserGetInfo")[0].server, std::nullopt);
}

TEST_F(LookupSearchTest, SearchWithoutPatternAsksForHelp)
{
    TraceCapture trace(LOG_INFO);
    CommandRun run = run_command(do_search, {"search"});
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(trace.messages(), std::vector<std::string>{"INFO Performing search"});
    EXPECT_TRUE(account_script.calls.empty());
}

TEST_F(LookupSearchTest, SearchListsMatchesInServiceOrder)
{
    account_script.enum_batches.push_back(
        {NERR_Success,
         {with_comment("carol", "Ops"), named("Administrator"), named("alice"), named("abc")},
         false});
    CommandRun run = run_command(do_search, {"search", "a*"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "+DATA alice\n+DATA abc\n+OK 2 entries found.\n");
    ServiceCall call = calls_of("NetUserEnum").at(0);
    EXPECT_EQ(call.server, wide("\\\\TESTHOST"));
    EXPECT_EQ(call.level, 1u);
    EXPECT_EQ(call.filter, 0u);
    EXPECT_EQ(call.preferred_length, 3200u);
    EXPECT_EQ(account_script.listing_shape, (std::vector<std::string>{"a", ""}));
}

TEST_F(LookupSearchTest, SearchCountLine)
{
    account_script.enum_batches.push_back(
        {NERR_Success, {with_comment("carol", "Ops"), named("bob")}, false});
    CommandRun run = run_command(do_search, {"search", "c*"});
    EXPECT_EQ(run.out, "+DATA carol comment=\"Ops\"\n+OK 1 entry found.\n");

    account_script.enum_batches.push_back({NERR_Success, {named("bob")}, false});
    run = run_command(do_search, {"search", "zz*"});
    EXPECT_EQ(run.out, "+OK 0 entries found.\n");

    account_script.enum_batches.push_back({NERR_Success, {named("bob")}, false});
    run = run_command(do_search, {"search", ""});
    EXPECT_EQ(run.out, "+OK 0 entries found.\n");
}

TEST_F(LookupSearchTest, SearchGoesOnWhileTheServiceHasMore)
{
    account_script.enum_batches.push_back(
        {ERROR_MORE_DATA, {named("amy"), named("bob")}, false});
    account_script.enum_batches.push_back({ERROR_MORE_DATA, {named("cat")}, false});
    account_script.enum_batches.push_back({NERR_Success, {named("ann"), named("dan")}, false});
    CommandRun run = run_command(do_search, {"search", "*"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out,
              "+DATA amy\n+DATA bob\n+DATA cat\n+DATA ann\n+DATA dan\n+OK 5 entries found.\n");
    std::vector<ServiceCall> calls = calls_of("NetUserEnum");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].resume, 0u);
    EXPECT_EQ(calls[1].resume, 2u);
    EXPECT_EQ(calls[2].resume, 3u);
}

TEST_F(LookupSearchTest, FailureMidwayKeepsTheLinesWrittenAndGivesNoCount)
{
    account_script.enum_batches.push_back({ERROR_MORE_DATA, {named("amy"), named("al")}, false});
    account_script.enum_batches.push_back({ERROR_ACCESS_DENIED, {}, true});
    CommandRun run = run_command(do_search, {"search", "a*"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out,
              "+DATA amy\n+DATA al\n"
              "-ERR The user does not have access to the requested information.\n");
}

TEST_F(LookupSearchTest, MoreDataWithoutEntriesEndsTheSearch)
{
    account_script.enum_batches.push_back({ERROR_MORE_DATA, {named("amy")}, false});
    for (int i = 0; i < 3; ++i)
        account_script.enum_batches.push_back({ERROR_MORE_DATA, {}, false});
    CommandRun run = run_command(do_search, {"search", "*"});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, "+DATA amy\n-ERR 234:Unknown error occurred.\n");
    EXPECT_EQ(calls_of("NetUserEnum").size(), 2u);
}

TEST_F(LookupSearchTest, SearchFailuresHaveTheirReplies)
{
    struct Row {
        DWORD result;
        const char *reply;
    };
    const Row rows[] = {
        {ERROR_ACCESS_DENIED, "-ERR The user does not have access to the requested information.\n"},
        {ERROR_INVALID_NAME, "-ERR The computer name is invalid.\n"},
        {NERR_InvalidComputer, "-ERR The computer name is invalid.\n"},
        {ERROR_INVALID_LEVEL, "-ERR 124:Unknown error occurred.\n"},
    };
    for (const Row &row : rows) {
        negative_reply_given = false;
        account_script.enum_batches.push_back({row.result, {}, false});
        CommandRun run = run_command(do_search, {"search", "*"});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, row.reply);
    }
}

// One bad entry (a name or a value that does not convert) hides neither the
// entries after it nor its own account.
TEST_F(LookupSearchTest, UnconvertibleEntriesAreLeftOutAndTheSearchGoesOn)
{
    ScriptedUser broken = named("x");
    broken.name->push_back(static_cast<WCHAR>(0xD800));
    account_script.enum_batches.push_back(
        {NERR_Success,
         {named("amy"), broken, with_comment("bob", std::string(3000, 'c').c_str()), named("ann")},
         false});
    CommandRun run = run_command(do_search, {"search", "*"});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "+DATA amy\n+DATA bob\n+DATA ann\n+OK 3 entries found.\n");
}

// The names a pattern lists out of a fixed set.
std::vector<std::string> listed(const char *pattern)
{
    const char *names[] = {"alice", "Administrator", "bob", "abc", "carl", "dave",
                           "]x",    "-dash",         "*",   "eve", "max",  "\xc3\xa9mile"};
    std::vector<std::string> found;
    for (const char *name : names)
        if (name_matches(pattern, name))
            found.push_back(name);
    return found;
}

using Names = std::vector<std::string>;

TEST(MatchPattern, PatternsListTheirNames)
{
    Names all = {"alice", "Administrator", "bob", "abc", "carl", "dave",
                 "]x",    "-dash",         "*",   "eve", "max",  "\xc3\xa9mile"};
    EXPECT_EQ(listed("*"), all);
    EXPECT_EQ(listed("**"), all);
    EXPECT_EQ(listed("a*"), (Names{"alice", "abc"}));
    EXPECT_EQ(listed("???"), (Names{"bob", "abc", "eve", "max"}));
    EXPECT_EQ(listed("*x"), (Names{"]x", "max"}));
    EXPECT_EQ(listed("[a-c]*"), (Names{"alice", "bob", "abc", "carl"}));
    EXPECT_EQ(listed("[^a-c]*"),
              (Names{"Administrator", "dave", "]x", "-dash", "*", "eve", "max", "\xc3\xa9mile"}));
    EXPECT_EQ(listed("[]]*"), (Names{"]x"}));
    EXPECT_EQ(listed("[a-]*"), (Names{"alice", "abc", "-dash"}));
    EXPECT_EQ(listed("\\*"), (Names{"*"}));
    EXPECT_EQ(listed(""), Names{});
    EXPECT_EQ(listed("bob\\"), Names{});
    EXPECT_EQ(listed("[a-z]*"),
              (Names{"alice", "bob", "abc", "carl", "dave", "eve", "max"}));
}

// True when name holds the shape's texts in order, the first at its start
// and the last at its end.
bool has_shape(const std::string &name, const std::vector<std::string> &shape)
{
    if (shape.size() == 1)
        return name == shape[0];
    std::size_t at = shape.front().size();
    if (name.compare(0, at, shape.front()) != 0)
        return false;
    for (std::size_t i = 1; i + 1 < shape.size() && at != std::string::npos; ++i)
        if ((at = name.find(shape[i], at)) != std::string::npos)
            at += shape[i].size();
    const std::string &last = shape.back();
    return at != std::string::npos && name.size() >= at + last.size() &&
           name.compare(name.size() - last.size(), last.size(), last) == 0;
}

TEST(PatternShape, EveryNameAPatternMatchesHasItsShape)
{
    const char *patterns[] = {"u1999?", "[ab]*x", "a\\*b*", "*ab?c*d", "[^]]x*", "x\\", "ab[",
                              "a[-z]b", "\\[a]*", "", "*", "**?a", "a*a*a", "?", "[*]\\**"};
    const char *names[] = {"u19990", "ax", "bbx", "a*bc", "zabxcqd", "]x", "yx", "x", "ab",
                           "a-b", "[a]z", "", "a", "qa", "aaa", "*x*", "abcd", "azb"};
    for (const char *pattern : patterns)
        for (const char *name : names)
            EXPECT_TRUE(match_pattern(name, pattern) != 1 ||
                        has_shape(name, pattern_shape(pattern))) << name << " " << pattern;
    EXPECT_EQ(pattern_shape("u1999?"), (std::vector<std::string>{"u1999", ""}));
    EXPECT_EQ(pattern_shape("a\\*b*?c"), (std::vector<std::string>{"a*b", "c"}));
}

TEST(MatchPattern, ResultsAndAbort)
{
    EXPECT_EQ(match_pattern("", ""), 1);
    EXPECT_EQ(match_pattern("a", ""), 0);
    EXPECT_EQ(match_pattern("", "a"), -1);
    EXPECT_EQ(match_pattern("", "*"), 1);
    EXPECT_EQ(match_pattern("ab", "a?c"), -1);
    EXPECT_EQ(match_pattern("abd", "a?c"), 0);
    EXPECT_EQ(match_pattern("abc", "*d"), -1);
    EXPECT_EQ(match_pattern("a?c", "a\\?c"), 1);
    EXPECT_EQ(match_pattern("abc", "a\\?c"), 0);
    EXPECT_EQ(match_pattern("Bob", "bob"), 0);
}

TEST(MatchPattern, ClassRules)
{
    EXPECT_EQ(match_pattern("-", "[-a]"), 1);
    EXPECT_EQ(match_pattern("b", "[-a]"), 0);
    EXPECT_EQ(match_pattern("]", "[^]]"), 0);
    EXPECT_EQ(match_pattern("a", "[^]]"), 1);
    EXPECT_EQ(match_pattern("-", "[^-]"), 0);
    EXPECT_EQ(match_pattern("e", "[a-ce-g]"), 1);
    EXPECT_EQ(match_pattern("d", "[a-ce-g]"), 0);
    // The upper bound of one range is the lower bound of the next.
    EXPECT_EQ(match_pattern("d", "[a-c-e]"), 1);
    EXPECT_EQ(match_pattern("*", "[*?[\\]"), 1);
    EXPECT_EQ(match_pattern("\\", "[*?[\\]"), 1);
    EXPECT_EQ(match_pattern("x", "[*?[\\]"), 0);
    EXPECT_EQ(match_pattern("ab", "[a][b]"), 1);
}

TEST(MatchPattern, RangesCompareSignedBytes)
{
    // 0xe9 lies below every ASCII character as a signed byte.
    EXPECT_EQ(match_pattern("\xe9", "[a-z]"), 0);
    EXPECT_EQ(match_pattern("\xe9", "[\x80-a]"), 1);
    EXPECT_EQ(match_pattern("\xe9", "[^a-z]"), 1);
    EXPECT_EQ(match_pattern("\x7f", "[\x80-a]"), 0);
}

TEST(MatchPattern, UnclosedClassMatchesNothing)
{
    // Nothing is read past the pattern's end: the pattern is its own copy,
    // a byte short of anything that could close the class.
    for (const char *text : {"[a", "[a-", "[^", "[", "[]", "[a-\\"}) {
        std::string pattern(text);
        std::unique_ptr<char[]> exact(new char[pattern.size() + 1]);
        std::memcpy(exact.get(), pattern.c_str(), pattern.size() + 1);
        EXPECT_EQ(match_pattern("a", exact.get()), 0) << text;
        EXPECT_EQ(match_pattern("]", exact.get()), 0) << text;
        EXPECT_EQ(match_pattern("ab", ("*" + pattern).c_str()), -1) << text;
    }
}

// Without the abort result this pattern takes exponential time.
TEST(MatchPattern, DeepStarsFinish)
{
    std::string pattern;
    for (int i = 0; i < 60; ++i)
        pattern += "*a";
    pattern += "*b";
    std::string text(500, 'a');
    EXPECT_EQ(match_pattern(text.c_str(), pattern.c_str()), -1);
    EXPECT_FALSE(name_matches(pattern.c_str(), text.c_str()));
    EXPECT_EQ(match_pattern((text + "b").c_str(), pattern.c_str()), 1);
}

TEST(MatchPattern, AbsentTextsNeverMatch)
{
    EXPECT_FALSE(name_matches(nullptr, "bob"));
    EXPECT_FALSE(name_matches("*", nullptr));
}

}  // namespace
