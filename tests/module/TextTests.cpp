// Message patterns and computer-name forms.
#include <gtest/gtest.h>

#include "module/Text.h"

using kalvora::FormatText;
using kalvora::UncComputer;

TEST(FormatText, FillsEachPlaceholderInOrder)
{
    EXPECT_EQ(L"Remove. User (jdoe) does not exist", FormatText(L"Remove. User (%s) does not exist", {L"jdoe"}));
    EXPECT_EQ(L"a,&agent=b&AppType=c", FormatText(L"%s,&agent=%s&AppType=%s", {L"a", L"b", L"c"}));
    EXPECT_EQ(L"x,&agent=&AppType=", FormatText(L"%s,&agent=%s&AppType=%s", {L"x", L"", L""}));
}

TEST(FormatText, ArgumentsAreNeverInterpreted)
{
    EXPECT_EQ(L"User (%s %n %d %%) end", FormatText(L"User (%s) end", {L"%s %n %d %%"}));
    EXPECT_EQ(L"(null)", FormatText(L"%s", {nullptr}));
    EXPECT_EQ(L"a  b", FormatText(L"a %s b", {}));  // missing argument: nothing
    EXPECT_EQ(L"100% sure", FormatText(L"100%% sure", {}));
    EXPECT_EQ(L"trailing %", FormatText(L"trailing %", {}));
    EXPECT_EQ(L"%d stays", FormatText(L"%d stays", {L"unused"}));
}

TEST(UncComputer, AddsThePrefixOnlyWhenNeeded)
{
    EXPECT_EQ(L"\\\\PC1", UncComputer(L"PC1"));
    EXPECT_EQ(L"\\\\PC1", UncComputer(L"\\\\PC1"));
    EXPECT_EQ(L"//PC1", UncComputer(L"//PC1"));
    EXPECT_EQ(L"\\PC1", UncComputer(L"\\PC1"));
    EXPECT_EQ(L"", UncComputer(L""));
}
