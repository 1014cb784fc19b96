// Account names and the other text members of an account, as UTF-8.
//
// Names are case-insensitive and case-preserving, as on Windows: each is
// stored as given and also as its folded key, which lookups compare. Folding
// maps to upper case the letters of ASCII, Latin-1, Latin Extended-A, Greek
// and Cyrillic (the scripts whose one-to-one upper case Windows also
// applies); every other character stays as it is. The key is fixed by this
// table rather than by the locale or a Unicode library version, since a
// changed key would break the database's unique index.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/account_backend.h"
#include "platform/win_types.h"

// Longest name, password, home directory, comment or script path, in UTF-16
// units (the service's characters).
constexpr std::size_t ACCOUNT_TEXT_MAX = 256;

char32_t fold_code_point(char32_t code_point);
std::string fold_name(std::string_view name);

// A name the database can hold: valid UTF-8, not empty, at most
// ACCOUNT_TEXT_MAX units, no control characters (C0, DEL, C1).
bool name_is_valid(std::string_view name);
// Valid UTF-8 of at most ACCOUNT_TEXT_MAX units.
bool text_member_is_valid(std::string_view text);

// A user is exactly a normal account: UF_NORMAL_ACCOUNT and no other
// account-type bit.
bool user_flags_are_valid(DWORD flags);

// Longest value in UTF-8 bytes: what a reply converts of one value.
constexpr std::size_t REPLY_VALUE_BYTES_MAX = 510;

// A home directory, comment or script path that a reply carries whole and
// that cannot end its quoted field early: a valid text member of at most
// REPLY_VALUE_BYTES_MAX bytes without '"' or a control character (C0, DEL,
// C1). Replies leave out a stored value that breaks this rule.
bool value_is_storable(std::string_view text);
// A name for a new account that the line protocol can address: a valid
// name of at most REPLY_VALUE_BYTES_MAX bytes without a space, '"' or '='.
// Existing accounts are still found by any valid name.
bool name_is_addressable(std::string_view name);

// 0, or the member of account that no store may hold: the name when
// with_name (one a new account may take), priv, home directory, comment,
// flags and script path (values a reply carries whole).
DWORD account_member_fault(const StoreAccount &account, bool with_name);

// 0, or MEMBER_PASSWORD for a password that is no valid text or longer than
// any store takes.
DWORD password_fault(std::string_view password);
