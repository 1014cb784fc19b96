// Narrow and wide text for the account commands, the replies for a failed
// conversion or a faulty account member, and the user information text that
// check, lookup and search append to their replies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/account_service.h"
#include "platform/secret_text.h"
#include "platform/win_types.h"

// Capacity of every narrow-to-wide conversion in wide characters, the
// terminator included: a converted word holds at most 511 characters.
constexpr int WIDE_TEXT_MAX = 512;
// Capacity offered to every wide-to-narrow conversion in bytes, the
// terminator included, out of a 512-byte buffer: at most 510 bytes.
constexpr int NARROW_TEXT_MAX = 511;

// A wide buffer of exactly WIDE_TEXT_MAX characters, wiped when it goes,
// since it may have held a password.
struct WideText {
    std::array<WCHAR, WIDE_TEXT_MAX> units{};

    WideText() = default;
    WideText(const WideText &) = delete;
    WideText &operator=(const WideText &) = delete;
    ~WideText() { wipe(); }

    LPWSTR data() { return units.data(); }
    void wipe() { wipe_memory(units.data(), units.size() * sizeof(WCHAR)); }
};

// A 512-byte narrow buffer of which NARROW_TEXT_MAX bytes are offered.
struct NarrowText {
    char bytes[NARROW_TEXT_MAX + 1] = {};

    const char *text() const { return bytes; }
};

// A buffer that the account service returned, released with
// NetApiBufferFree on every path.
struct ServiceBuffer {
    LPBYTE data = nullptr;

    ServiceBuffer() = default;
    ServiceBuffer(const ServiceBuffer &) = delete;
    ServiceBuffer &operator=(const ServiceBuffer &) = delete;
    ~ServiceBuffer() { release(); }

    // Where the service puts the buffer; one held before is released.
    LPBYTE *out()
    {
        release();
        return &data;
    }
    void release()
    {
        if (data != nullptr)
            NetApiBufferFree(data);
        data = nullptr;
    }
    USER_INFO_1 *user_info() const { return reinterpret_cast<USER_INFO_1 *>(data); }
};

// Convert with the fixed capacities. 1 on success; 0 after the reply of
// report_conversion_error.
int to_wide(const char *narrow, WideText &wide);
int to_narrow(LPCWSTR wide, NarrowText &narrow);
// The same as to_wide without a reply: 0 with the conversion's error.
int convert_to_wide(const char *narrow, WideText &wide, DWORD &error);

// Write the negative reply for the last conversion error, or for error;
// their result is not used.
int report_conversion_error();
int reply_for_conversion_error(DWORD error);

// Writes the reply naming the USER_INFO_1 member that NetUserAdd or
// NetUserSetInfo found faulty (index 1 to 8) and returns 1; for any other
// index writes nothing and returns 0.
int report_parameter_error(DWORD index);

struct FreeText {
    void operator()(char *text) const { std::free(text); }
};
// A heap text from string_append, released with free.
using HeapText = std::unique_ptr<char, FreeText>;

// text followed by suffix, in a block that may have moved; the caller
// replaces text with the result. Without memory the suffix is dropped and
// text is returned as it was.
char *string_append(char *text, const char *suffix);

// Longest user information text that fits behind a reply head: the daemons
// read lines of at most 1023 characters, line feed included.
std::size_t user_info_room(std::size_t head_length);

// The user information text of record (home=, comment= and script= items
// for the members present), in text; none when no member is present. Values
// are shortened, each at a character boundary, so that the text holds at
// most room characters. A value that holds '"' or a control character (C0,
// DEL, C1), or that does not convert into NARROW_TEXT_MAX, is left out with
// an ERROR line naming the account and the member.
void format_user_info(const USER_INFO_1 *record, std::size_t room, HeapText &text);

// Writes head alone, or head, a space and the user information text of
// record, through reply_positive.
void reply_with_user_info(std::string_view head, const USER_INFO_1 *record);
