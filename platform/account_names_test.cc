// Name folding and the widening of stored text.
#include <string>

#include <gtest/gtest.h>

#include "platform/account_names.h"
#include "platform/utf_text.h"

namespace {

struct FoldPair {
    char32_t lower;
    char32_t upper;
};

// The edges of each folded range, and letters with irregular upper cases.
constexpr FoldPair FOLD_PAIRS[] = {
    {U'a', U'A'},       {U'z', U'Z'},       {U'à', U'À'},       {U'ö', U'Ö'},
    {U'ø', U'Ø'},       {U'þ', U'Þ'},       {U'ÿ', U'Ÿ'},       {U'ā', U'Ā'},
    {U'į', U'Į'},       {U'ĳ', U'Ĳ'},       {U'ķ', U'Ķ'},       {U'ĺ', U'Ĺ'},
    {U'ň', U'Ň'},       {U'ŋ', U'Ŋ'},       {U'ŷ', U'Ŷ'},       {U'ź', U'Ź'},
    {U'ž', U'Ž'},       {U'ά', U'Ά'},       {U'έ', U'Έ'},       {U'ί', U'Ί'},
    {U'α', U'Α'},       {U'ρ', U'Ρ'},       {U'ς', U'Σ'},       {U'σ', U'Σ'},
    {U'ϋ', U'Ϋ'},       {U'ό', U'Ό'},       {U'ύ', U'Ύ'},       {U'ώ', U'Ώ'},
    {U'а', U'А'},       {U'я', U'Я'},       {U'ѐ', U'Ѐ'},       {U'џ', U'Џ'},
};

TEST(AccountNames, FoldingMapsEachLowerCaseLetterToItsUpperCase)
{
    for (const FoldPair &pair : FOLD_PAIRS) {
        EXPECT_EQ(fold_code_point(pair.lower), pair.upper) << std::hex << static_cast<unsigned>(pair.lower);
        EXPECT_EQ(fold_code_point(pair.upper), pair.upper) << std::hex << static_cast<unsigned>(pair.upper);
    }
}

TEST(AccountNames, FoldingLeavesOtherCharactersAlone)
{
    // Dotless i, kra and n preceded by apostrophe have no one-to-one upper
    // case; sharp s would become two letters; the rest are not letters or
    // lie outside the folded scripts.
    for (char32_t kept : {U'ı', U'ĸ', U'ŉ', U'ß', U'ſ', U'ΐ', U'ΰ', U'@', U'[', U'`', U'{',
                          U'×', U'÷', U'中', U'ｆ', U'𝄞'})
        EXPECT_EQ(fold_code_point(kept), kept) << std::hex << static_cast<unsigned>(kept);
}

TEST(AccountNames, FoldedNamesCompareAcrossCase)
{
    EXPECT_EQ(fold_name("Jörg.Müller"), fold_name("JÖRG.MÜLLER"));
    EXPECT_EQ(fold_name("Jörg.Müller"), "JÖRG.MÜLLER");
    EXPECT_NE(fold_name("strasse"), fold_name("straße"));
    // Invalid bytes fold to the replacement character rather than vanish.
    EXPECT_EQ(fold_name("a\xFF"), "A\xEF\xBF\xBD");
}

TEST(AccountNames, ValidNamesAreNonEmptyShortAndFreeOfControls)
{
    EXPECT_TRUE(name_is_valid("a"));
    EXPECT_TRUE(name_is_valid(std::string(256, 'n')));
    EXPECT_TRUE(name_is_valid("with space@and.dots"));
    EXPECT_FALSE(name_is_valid(""));
    EXPECT_FALSE(name_is_valid(std::string(257, 'n')));
    EXPECT_FALSE(name_is_valid(std::string("a\0b", 3)));
    EXPECT_FALSE(name_is_valid("a\x1f"));
    EXPECT_FALSE(name_is_valid("a\x7f"));
    EXPECT_FALSE(name_is_valid("a\xC2\x9F"));  // U+009F
    EXPECT_FALSE(value_is_storable("a\xC2\x9B"));  // nor may a stored value hold it
    EXPECT_FALSE(name_is_valid("a\xC0\xAF"));  // overlong '/'
    // 128 characters outside the BMP are 256 UTF-16 units.
    std::string astral;
    for (int i = 0; i < 128; ++i)
        astral += "\xF0\x9D\x84\x9E";
    EXPECT_TRUE(name_is_valid(astral));
    EXPECT_FALSE(name_is_valid(astral + "x"));
}

TEST(WideText, StoredTextWidensWithReplacementForBadBytes)
{
    std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E\xED\xA0\x80\xF4\x90\x80\x80z";
    std::u16string expected = u"Aé€𝄞\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD\xFFFDz";
    ASSERT_EQ(wide_units_of(text), expected.size());
    std::u16string out(expected.size(), u'\0');
    EXPECT_EQ(utf8_to_wide(text, out.data()), out.data() + out.size());
    EXPECT_EQ(out, expected);
}

}  // namespace
