// MultiByteToWideChar and WideCharToMultiByte over any bytes and any
// UTF-16 units, with every kind of destination: the query (size 0), room
// to spare, exact room and too little. Well-formedness is judged by a
// second reading written here from the Unicode table of well-formed UTF-8
// byte sequences; what converts must convert back to the same text.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_sandbox.h"
#include "platform/last_error.h"
#include "platform/text_conversion.h"

namespace {

// Unicode 15, table 3-7: the second byte's range for each lead byte.
bool utf8_well_formed(const std::string &text, std::size_t &units)
{
    units = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead <= 0x7F) {
            extra = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead == 0xE0) {
            extra = 2, low = 0xA0;
        } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
            extra = 2;
        } else if (lead == 0xED) {
            extra = 2, high = 0x9F;
        } else if (lead == 0xF0) {
            extra = 3, low = 0x90;
        } else if (lead >= 0xF1 && lead <= 0xF3) {
            extra = 3;
        } else if (lead == 0xF4) {
            extra = 3, high = 0x8F;
        } else {
            return false;
        }
        if (extra > 0 && i + extra >= text.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            unsigned char first_low = k == 1 ? low : 0x80;
            unsigned char first_high = k == 1 ? high : 0xBF;
            if (next < first_low || next > first_high)
                return false;
        }
        units += extra == 3 ? 2 : 1;
        i += extra + 1;
    }
    return true;
}

bool utf16_well_formed(const std::u16string &text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        }
    }
    return true;
}

[[noreturn]] void fail_with(const char *property, const char *what, DWORD error, int result)
{
    std::string detail = std::string(what) + ": result " + std::to_string(result) +
                         ", error " + std::to_string(error);
    fuzz_fail(property, detail.c_str());
}

// A destination of exactly size units, so that AddressSanitizer sees any
// write past it.
template <typename Unit>
std::unique_ptr<Unit[]> destination(int size)
{
    return std::unique_ptr<Unit[]>(size > 0 ? new Unit[static_cast<std::size_t>(size)] : nullptr);
}

// How much room a conversion gets, chosen before the text is known.
struct RoomChoice {
    int kind = 0;
    unsigned amount = 0;
};

int pick_room(const RoomChoice &choice, int needed)
{
    switch (choice.kind) {
    case 0:
        return needed;
    case 1:
        // Short, but never 0, which is the size query.
        return needed > 1 ? 1 + static_cast<int>(choice.amount % static_cast<unsigned>(needed - 1))
                          : needed;
    default:
        return needed + static_cast<int>(choice.amount % 9);
    }
}

std::string narrow_back(const WCHAR *wide, int units)
{
    int needed = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        fail_with("well-formed UTF-16 converts back", "size", GetLastError(), needed);
    auto bytes = destination<char>(needed);
    int written =
        WideCharToMultiByte(CP_ACP, 0, wide, units, bytes.get(), needed, nullptr, nullptr);
    if (written != needed)
        fail_with("the size query tells what is written", "back", GetLastError(), written);
    return std::string(bytes.get(), static_cast<std::size_t>(written));
}

void check_narrow_to_wide(const RoomChoice &choice, const std::string &text, bool terminated)
{
    int length = terminated ? -1 : static_cast<int>(text.size());
    std::size_t units = 0;
    // A length of 0 is refused; a terminated empty text is one unit.
    bool valid = utf8_well_formed(text, units) && (terminated || !text.empty());
    int expected = static_cast<int>(units) + (terminated ? 1 : 0);
    SetLastError(0);
    int needed = MultiByteToWideChar(CP_ACP, 0, text.c_str(), length, nullptr, 0);
    DWORD error = GetLastError();
    if (!valid) {
        DWORD wanted = text.empty() && !terminated ? ERROR_INVALID_PARAMETER
                                                   : ERROR_NO_UNICODE_TRANSLATION;
        if (needed != 0 || error != wanted)
            fail_with("ill-formed UTF-8 is refused with its code",
                      "query", error, needed);
        return;
    }
    if (needed != expected)
        fail_with("the size query counts the units",
                      "query", error, needed);
    int room = pick_room(choice, needed);
    auto wide = destination<WCHAR>(room);
    SetLastError(0);
    int written = MultiByteToWideChar(CP_ACP, 0, text.c_str(), length, wide.get(), room);
    error = GetLastError();
    if (room < needed) {
        if (written != 0 || error != ERROR_INSUFFICIENT_BUFFER)
            fail_with("too little room is refused with its code",
                      "short", error, written);
        return;
    }
    if (written != needed)
        fail_with("the size query tells what is written",
                      "write", error, written);
    std::string back = narrow_back(wide.get(), written);
    std::string original = terminated ? text + '\0' : text;
    if (back != original)
        fuzz_fail("UTF-8 to UTF-16 and back gives the same bytes", text.c_str());
}

void check_wide_to_narrow(const RoomChoice &choice, const std::u16string &text)
{
    int length = static_cast<int>(text.size());
    if (length == 0)
        return;
    bool valid = utf16_well_formed(text);
    SetLastError(0);
    int needed =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    DWORD error = GetLastError();
    if (!valid) {
        if (needed != 0 || error != ERROR_NO_UNICODE_TRANSLATION)
            fail_with("unpaired surrogates are refused with their code",
                      "query", error, needed);
        return;
    }
    int room = pick_room(choice, needed);
    auto bytes = destination<char>(room);
    SetLastError(0);
    int written =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, bytes.get(), room, nullptr, nullptr);
    error = GetLastError();
    if (room < needed) {
        if (written != 0 || error != ERROR_INSUFFICIENT_BUFFER)
            fail_with("too little room is refused with its code",
                      "short", error, written);
        return;
    }
    if (written != needed)
        fail_with("the size query tells what is written",
                      "write", error, written);
    std::string narrow(bytes.get(), static_cast<std::size_t>(written));
    std::size_t units = 0;
    if (!utf8_well_formed(narrow, units) || units != text.size())
        fuzz_fail("UTF-16 becomes well-formed UTF-8 of as many units", nullptr);
    int again = MultiByteToWideChar(CP_ACP, 0, narrow.data(), written, nullptr, 0);
    auto wide = destination<WCHAR>(again);
    if (again != length ||
        MultiByteToWideChar(CP_ACP, 0, narrow.data(), written, wide.get(), again) != again ||
        std::u16string(wide.get(), static_cast<std::size_t>(again)) != text)
        fuzz_fail("UTF-16 to UTF-8 and back gives the same units", nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    int mode = data.ConsumeIntegralInRange(0, 2);
    RoomChoice choice{data.ConsumeIntegralInRange(0, 3), data.ConsumeIntegral<unsigned>()};
    if (mode == 2) {
        std::u16string text;
        while (data.remaining_bytes() >= 2)
            text.push_back(data.ConsumeIntegral<char16_t>());
        check_wide_to_narrow(choice, text);
        return 0;
    }
    std::string text = data.ConsumeRemainingBytesAsString();
    // A terminated text ends at its first NUL.
    if (mode == 0)
        text = text.substr(0, text.find('\0'));
    check_narrow_to_wide(choice, text, mode == 0);
    return 0;
}
