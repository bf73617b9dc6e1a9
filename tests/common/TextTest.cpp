#include "common/Text.h"

#include <gtest/gtest.h>

TEST(Text, TrimAndCase) {
    EXPECT_EQ(Trim("\t a b \r\n"), "a b");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x "), "  x");
    EXPECT_EQ(UpperCase("abc\xe9z"), "ABC\xe9Z");
    EXPECT_EQ(LowerCase("ABC"), "abc");
    EXPECT_TRUE(SameText("Keep-Alive", "keep-alive"));
    EXPECT_FALSE(SameText("a", "ab"));
    EXPECT_EQ(Pos("lo", "hello"), 4u);
    EXPECT_EQ(Pos("x", "hello"), 0u);
}

TEST(Text, IntegerParsingFallsBackOnAnythingButANumber) {
    EXPECT_EQ(StrToIntDef("8081", 1), 8081);
    EXPECT_EQ(StrToIntDef("-12", 1), -12);
    EXPECT_EQ(StrToIntDef("$1F", 1), 31);
    EXPECT_EQ(StrToIntDef("abc", 8000), 8000);
    EXPECT_EQ(StrToIntDef("", 7), 7);
    EXPECT_EQ(StrToIntDef(" 5", 7), 7);
    EXPECT_EQ(StrToIntDef("2147483648", 7), 7);
    EXPECT_EQ(StrToIntDef("-2147483648", 7), INT32_MIN);
    EXPECT_EQ(StrToInt64Def("4294967295", 0), 4294967295LL);
    EXPECT_EQ(StrToInt64Def("99999999999999999999", -1), -1);
}

TEST(Text, FormatGrowsPastItsSmallBuffer) {
    EXPECT_EQ(Format("%s #%d", "Socket Error", 10054), "Socket Error #10054");
    std::string big(1000, 'x');
    EXPECT_EQ(Format("<%s>", big.c_str()).size(), 1002u);
    EXPECT_EQ(Format(" ($%x).", 0x80004005u), " ($80004005).");
}
