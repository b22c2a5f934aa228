#include "search/box_rules.h"

#include <gtest/gtest.h>

namespace zerano {
namespace {

TEST(BoxRules, TextOnceTheBoxLosesTheFocus) {
    struct Case {
        const char* typed;
        const char* qq;
        const char* interval;
    };
    const Case cases[] = {
        {"", "", ""},
        {"0", "", ""},
        {"-", "", ""},
        {"-0", "", ""},
        {"000123", "123", "123"},
        {"12-34", "12", "12"},
        {"-300", "-300", "-300"},
        {"50000", "50000", "32767"},
        {"-50000", "-50000", "-32768"},
        {"2147483648", "2147483648", "32767"},
        {"9999999999999", "9999999999999", "32767"},
        {"99999999999999999999", "99999999999999999999", "32767"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(qq_box_text(c.typed), c.qq);
        EXPECT_EQ(interval_box_text(c.typed), c.interval);
    }
}

TEST(BoxRules, TypedValuesAreRefusedWhereTheBoxWouldRefuseThem) {
    EXPECT_EQ(typed_qq("0012345"), "12345");
    EXPECT_EQ(typed_qq("1234567890123"), "1234567890123");
    EXPECT_EQ(typed_qq("12345678901234"), std::nullopt);  // longer than the box holds
    EXPECT_EQ(typed_qq("12 345"), std::nullopt);
    EXPECT_EQ(typed_qq("+12345"), std::nullopt);
    EXPECT_EQ(typed_interval("40000"), "32767");
    EXPECT_EQ(typed_interval("3e2"), std::nullopt);
    EXPECT_EQ(typed_interval("１２"), std::nullopt);  // full-width digits are not typed
    EXPECT_TRUE(number_box_accepts('7'));
    EXPECT_TRUE(number_box_accepts('-'));
    EXPECT_FALSE(number_box_accepts('a'));
}

}  // namespace
}  // namespace zerano
