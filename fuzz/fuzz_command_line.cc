// Whole command lines through the tokenizer and the dispatcher, against the
// scripted account service. The input's first bytes script what the service
// answers; the rest is either standard-input text (cut into lines and
// 510-character reads as the loop reads them) or process arguments split at
// NUL bytes. Every command must give one well-formed reply and give back
// every buffer and token it obtained.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "command/dispatcher.h"
#include "protocol/replies.h"
#include "command/tokenizer.h"
#include "fuzz/fuzz_sandbox.h"
#include "log/trace_log.h"
#include "tests/scripted_account_service.h"

namespace {

// As the command loop reads: 510 characters a read.
constexpr std::size_t READ_MAX = 510;
constexpr std::size_t REPLY_LINE_MAX = 1023;  // line feed included
constexpr std::size_t WORDS_MAX = 64;

constexpr DWORD RESULT_CODES[] = {
    NERR_Success,         NERR_UserNotFound,        ERROR_ACCESS_DENIED,
    NERR_InvalidComputer, ERROR_MORE_DATA,          ERROR_INVALID_PARAMETER,
    NERR_UserExists,      NERR_GroupNotFound,       ERROR_MEMBER_IN_ALIAS,
    ERROR_INVALID_MEMBER, ERROR_LOGON_FAILURE,      ERROR_PRIVILEGE_NOT_HELD,
    NERR_PasswordTooShort, ERROR_INVALID_NAME,      NERR_InternalError,
    ERROR_BAD_NETPATH,    NERR_NotPrimary,          ERROR_ACCOUNT_DISABLED,
};
constexpr int DIRECTORY_ERRNOS[] = {0, EEXIST, EACCES, ENOENT, EIO};

int output_fd = -1;

DWORD pick_result(FuzzedDataProvider &data)
{
    if (data.ConsumeIntegralInRange(0, 7) == 0)
        return data.ConsumeIntegral<DWORD>();
    return data.PickValueInArray(RESULT_CODES);
}

// Bytes below 0xF8 are the unit of that value; the rest stand for the
// units that conversions find hard.
void append_units(WideString &text, unsigned char byte)
{
    static const WCHAR SPECIAL[][2] = {{0xD800, 0}, {0xDC00, 0}, {0xD83D, 0xDE00},
                                       {0x20AC, 0}, {0xFFFF, 0}, {0x07FF, 0},
                                       {0x0800, 0}, {0xDBFF, 0xDFFF}};
    if (byte == 0) {
        text.push_back(u'x');
    } else if (byte < 0xF8) {
        text.push_back(byte);
    } else {
        for (WCHAR unit : SPECIAL[byte - 0xF8])
            if (unit != 0)
                text.push_back(unit);
    }
}

std::optional<WideString> pick_text(FuzzedDataProvider &data)
{
    if (data.ConsumeBool())
        return std::nullopt;
    std::string bytes = data.ConsumeRandomLengthString(64);
    int repeat = data.ConsumeIntegralInRange(1, 12);
    WideString text;
    for (int i = 0; i < repeat; ++i)
        for (char byte : bytes)
            append_units(text, static_cast<unsigned char>(byte));
    return text;
}

ScriptedUser pick_user(FuzzedDataProvider &data)
{
    ScriptedUser user;
    user.name = pick_text(data);
    user.home_dir = pick_text(data);
    user.comment = pick_text(data);
    user.script_path = pick_text(data);
    user.flags = data.ConsumeIntegral<DWORD>();
    return user;
}

ScriptedAnswer pick_answer(FuzzedDataProvider &data)
{
    ScriptedAnswer answer;
    answer.result = pick_result(data);
    answer.with_buffer = data.ConsumeBool();
    int users = data.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < users; ++i)
        answer.users.push_back(pick_user(data));
    return answer;
}

void script_service(FuzzedDataProvider &data)
{
    for (int i = data.ConsumeIntegralInRange(0, 3); i > 0; --i)
        account_script.info_answers.push_back(pick_answer(data));
    for (int i = data.ConsumeIntegralInRange(0, 3); i > 0; --i)
        account_script.enum_batches.push_back(pick_answer(data));
    for (int i = data.ConsumeIntegralInRange(0, 2); i > 0; --i)
        account_script.add_answers.push_back({pick_result(data), data.ConsumeIntegral<DWORD>()});
    for (int i = data.ConsumeIntegralInRange(0, 2); i > 0; --i)
        account_script.set_info_answers.push_back(
            {pick_result(data), data.ConsumeIntegral<DWORD>()});
    for (int i = data.ConsumeIntegralInRange(0, 2); i > 0; --i)
        account_script.del_answers.push_back(pick_result(data));
    for (int i = data.ConsumeIntegralInRange(0, 2); i > 0; --i)
        account_script.add_members_answers.push_back(pick_result(data));
    for (int i = data.ConsumeIntegralInRange(0, 2); i > 0; --i)
        account_script.logon_answers.push_back({data.ConsumeBool(), pick_result(data)});
    fuzz_sandbox.probe_errno = data.ConsumeBool() ? EEXIST : ENOENT;
    fuzz_sandbox.mkdir_errno = data.PickValueInArray(DIRECTORY_ERRNOS);
}

std::string take_output()
{
    std::fflush(stdout);
    std::string text;
    char chunk[4096];
    ssize_t got;
    lseek(output_fd, 0, SEEK_SET);
    while ((got = read(output_fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(got));
    if (ftruncate(output_fd, 0) != 0 || lseek(output_fd, 0, SEEK_SET) != 0)
        fuzz_fail("output capture", "cannot empty the output file");
    return text;
}

bool is_negative(const std::string &line)
{
    return line[0] == '-' || line == "+OK User account not found.";
}

bool has_tag(const std::string &line)
{
    for (const char *tag : {"+OK", "+DATA", "-ERR", "-DEAD"})
        if (line.compare(0, std::string(tag).size(), tag) == 0)
            return true;
    return false;
}

// One reply: tagged lines of bounded length, each ended, at most one
// negative line and nothing after it.
void check_reply(const std::string &out, bool reply_due)
{
    if (reply_due && out.empty())
        fuzz_fail("every command is answered", nullptr);
    if (!out.empty() && out.back() != '\n')
        fuzz_fail("every reply line ends with a line feed", out.c_str());
    std::size_t start = 0;
    bool negative_seen = false;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        std::string line = out.substr(start, end - start);
        if (end - start + 1 > REPLY_LINE_MAX)
            fuzz_fail("reply lines hold at most 1023 characters", line.c_str());
        if (line.empty() || !has_tag(line))
            fuzz_fail("every reply line starts with a tag", out.c_str());
        if (negative_seen)
            fuzz_fail("nothing follows the negative reply", out.c_str());
        negative_seen = is_negative(line);
        start = end + 1;
    }
}

void check_service_state()
{
    if (!account_script.outstanding_buffers.empty())
        fuzz_fail("every service buffer is released", nullptr);
    if (account_script.unknown_frees != 0)
        fuzz_fail("only service buffers are released", nullptr);
    if (account_script.open_tokens != 0)
        fuzz_fail("every logon token is closed", nullptr);
}

void run_words(const WordList &words)
{
    negative_reply_given = false;
    dispatch_command(words);
    check_reply(take_output(), skip_option_words(&words) < words.count);
    check_service_state();
}

void run_terminal_text(const std::string &text)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::size_t stop = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, stop - start);
        start = stop;
        // The loop itself answers an empty line and one too long for a read.
        if (line[0] == '\n' || line.size() > READ_MAX - 1 + (line.back() == '\n'))
            continue;
        OwnedWordList words = tokenize_line(line.c_str(), "lodgate");
        run_words(words.view());
    }
}

void run_arguments(const std::string &text)
{
    std::vector<std::string> texts = {"lodgate"};
    std::size_t start = 0;
    while (start <= text.size() && texts.size() < WORDS_MAX) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos)
            end = text.size();
        texts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<char *> pointers;
    for (std::string &word : texts)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    run_words(WordList{pointers.data(), static_cast<int>(texts.size())});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    output_fd = memfd_create("replies", 0);
    if (output_fd < 0 || dup2(output_fd, STDOUT_FILENO) < 0)
        fuzz_fail("output capture", "no memfd");
    fuzz_sandbox.active = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    reset_command_state();
    // Logging at DEBUG, so that every trace line is formatted too.
    log_file = std::fopen("/dev/null", "w");
    log_level = LOG_DEBUG;
    script_service(data);
    bool arguments = data.ConsumeBool();
    std::string text = data.ConsumeRemainingBytesAsString();
    if (arguments)
        run_arguments(text);
    else
        run_terminal_text(text);
    take_output();
    return 0;
}
