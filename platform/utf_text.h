// UTF-16 (the account service's wide text) and UTF-8 (the narrow text on
// POSIX and the stores' text): the one converter of both directions, which
// MultiByteToWideChar and WideCharToMultiByte are built on too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/win_types.h"

constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Units before the terminator; 0 for none.
std::size_t wide_text_units(const WCHAR *text);

// Strict: an unpaired surrogate gives false and leaves out unspecified.
bool wide_to_utf8(const WCHAR *text, std::string &out);
// The same into a buffer of size bytes, terminated; false also when it does
// not fit. *length gets the bytes before the terminator.
bool wide_to_utf8_into(const WCHAR *text, char *buffer, std::size_t size,
                       std::size_t *length);

// The code point at text[*i] of length units, advancing *i; false for an
// unpaired surrogate.
bool decode_utf16(const WCHAR *text, std::size_t length, std::size_t *i, char32_t *code_point);
// Bytes of code_point in UTF-8, written to out (room for 4).
std::size_t encode_utf8(char32_t code_point, char *out);

// One code point at text[*position], advancing *position. Overlong forms,
// surrogates and values past U+10FFFF give REPLACEMENT_CHARACTER and
// *valid false, past one byte.
char32_t decode_utf8(std::string_view text, std::size_t *position, bool *valid);
void append_utf8(char32_t code_point, std::string &out);
bool utf8_is_valid(std::string_view text);

// UTF-16 units that utf8_to_wide writes for text (terminator not counted).
std::size_t wide_units_of(std::string_view text);
// Writes the units without a terminator; returns the position after them.
// Invalid bytes become U+FFFD, so that a read never fails on stored text.
WCHAR *utf8_to_wide(std::string_view text, WCHAR *out);
