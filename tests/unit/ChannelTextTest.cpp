#include <gtest/gtest.h>

#include "app/ChannelText.h"

TEST(ChannelText, AcceptsUnsignedDecimalsWithBlanksAndPlus) {
    EXPECT_EQ(ParseChannelText(" 7 "), 7u);
    EXPECT_EQ(ParseChannelText("\t7\t"), 7u);
    EXPECT_EQ(ParseChannelText("+7"), 7u);
    EXPECT_EQ(ParseChannelText("0"), 0u);
    EXPECT_EQ(ParseChannelText("  00 "), 0u);
    EXPECT_EQ(ParseChannelText("4294967295"), 4294967295u);
}

TEST(ChannelText, RefusesEmptyNegativeAndTrailingText) {
    for (const char* text :
         {"", "   ", "-1", "-0", "7x", "x7", "abc", "+", "+0", "7 8", "0x10", "7\n"})
        EXPECT_FALSE(ParseChannelText(text).has_value()) << '"' << text << '"';
}

TEST(ChannelText, TooLargeSaturatesInsteadOfFailing) {
    EXPECT_EQ(ParseChannelText("4294967296"), 4294967295u);
    EXPECT_EQ(ParseChannelText("99999999999999999999999"), 4294967295u);
}

TEST(ChannelText, OnlyTheFirst31CharactersCount) {
    // The tail past 31 characters is never seen: neither its garbage nor its digits.
    EXPECT_EQ(ParseChannelText("7" + std::string(30, ' ') + "x"), 7u);
    EXPECT_EQ(ParseChannelText(std::string(30, ' ') + "12"), 1u);
    EXPECT_FALSE(ParseChannelText(std::string(31, ' ') + "5").has_value());
}

TEST(ChannelText, MessageIsTheDialogsOwnText) {
    EXPECT_STREQ(kMsgChannelInvalid, "“请填入一个正整数。”");
}
