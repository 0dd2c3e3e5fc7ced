// Message patterns and computer-name forms.
#include <gtest/gtest.h>

#include "module/Text.h"

using kalvora::FormatText;
using kalvora::UncComputer;

TEST(FormatText, FillsPlaceholdersInOrderAndNeverInterpretsArguments)
{
    EXPECT_EQ(L"User (jdoe) does not exist", FormatText(L"User (%s) does not exist", {L"jdoe"}));
    EXPECT_EQ(L"a,&agent=b&AppType=", FormatText(L"%s,&agent=%s&AppType=%s", {L"a", L"b", L""}));
    EXPECT_EQ(L"User (%s %n %d %%) end", FormatText(L"User (%s) end", {L"%s %n %d %%"}));
    EXPECT_EQ(L"(null)", FormatText(L"%s", {nullptr}));
    EXPECT_EQ(L"a  b", FormatText(L"a %s b", {}));  // a missing argument gives nothing
    EXPECT_EQ(L"100% sure, %d stays, trailing %", FormatText(L"100%% sure, %d stays, trailing %", {L"x"}));
}

TEST(UncComputer, AddsThePrefixOnlyWhenNeeded)
{
    EXPECT_EQ(L"\\\\PC1", UncComputer(L"PC1"));
    EXPECT_EQ(L"\\\\PC1", UncComputer(L"\\\\PC1"));
    EXPECT_EQ(L"//PC1", UncComputer(L"//PC1"));
    EXPECT_EQ(L"\\PC1", UncComputer(L"\\PC1"));
    EXPECT_EQ(L"", UncComputer(L""));
}
