#include "common/StringList.h"

#include <gtest/gtest.h>

namespace {

TEST(StringList, AddInsertDeleteAndBounds) {
    TStringList l;
    EXPECT_EQ(l.Add("b"), 0);
    l.Insert(0, "a");
    l.Insert(2, "c"); // at Count(): appends
    ASSERT_EQ(l.Count(), 3);
    EXPECT_EQ(l[0], "a");
    EXPECT_EQ(l[2], "c");
    l.Delete(1);
    EXPECT_EQ(l.Text(), "a\r\nc\r\n");
    EXPECT_THROW(l[2], EStringListError);
    EXPECT_THROW(l.Delete(-1), EStringListError);
    EXPECT_THROW(l.Insert(4, "x"), EStringListError);
    try {
        (void)l[7];
    } catch (const EStringListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (7)");
    }
}

TEST(StringList, IndexOfIgnoresCaseUnlessAsked) {
    TStringList l;
    l.Add("Alpha");
    l.Add("beta");
    EXPECT_EQ(l.IndexOf("ALPHA"), 0);
    EXPECT_EQ(l.IndexOf("gamma"), -1);
    l.SetCaseSensitive(true);
    EXPECT_EQ(l.IndexOf("ALPHA"), -1);
    EXPECT_EQ(l.IndexOf("beta"), 1);
}

TEST(StringList, NameValueAccess) {
    TStringList l;
    l.Add("plain");
    l.Add("Key=v1=still value");
    l.Add("empty=");
    l.Add("key=second");
    EXPECT_EQ(l.Names(0), "");
    EXPECT_EQ(l.ValueFromIndex(0), "");
    EXPECT_EQ(l.Names(1), "Key");
    EXPECT_EQ(l.ValueFromIndex(1), "v1=still value");
    EXPECT_EQ(l.IndexOfName("KEY"), 1); // first match wins, case ignored
    EXPECT_EQ(l.Values("key"), "v1=still value");
    EXPECT_EQ(l.Values("empty"), "");
    EXPECT_EQ(l.IndexOfName("empty"), 2);
    EXPECT_EQ(l.Values("missing"), "");

    l.SetValue("KEY", "new");
    EXPECT_EQ(l[1], "KEY=new");
    l.SetValue("added", "x");
    EXPECT_EQ(l[l.Count() - 1], "added=x");
    l.SetValue("added", ""); // empty value removes the entry
    EXPECT_EQ(l.IndexOfName("added"), -1);
    EXPECT_EQ(l.Count(), 4);
}

TEST(StringList, SetTextSplitsOnCrLfAndLf) {
    TStringList l;
    l.SetText("one\r\ntwo\nthree\r\n\r\nfive");
    ASSERT_EQ(l.Count(), 5);
    EXPECT_EQ(l[1], "two");
    EXPECT_EQ(l[3], "");
    EXPECT_EQ(l[4], "five");
    l.SetText("last\r\n");
    EXPECT_EQ(l.Count(), 1);
    l.SetText("");
    EXPECT_EQ(l.Count(), 0);
    EXPECT_EQ(l.Text(), "");
    l.SetText("a\rb\n"); // lone CR stays part of the line
    ASSERT_EQ(l.Count(), 1);
    EXPECT_EQ(l[0], "a\rb");
}

} // namespace
