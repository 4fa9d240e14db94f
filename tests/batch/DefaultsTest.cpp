#include "batch/Defaults.h"
#include "engine/ConversionSettings.h"

#include <gtest/gtest.h>

using namespace tollavar;

TEST(DefaultsTest, LoadDefaultsKeepsTheFieldListsAndNewForgetsTheFile)
{
    ConversionSettings s;
    s.txtFNAMES = "A|IMAGEPATH";
    s.txtFTYPES = "text|text";
    s.txtIDX = "/x/*.idx";
    s.mRemove = s.mAllowDupes = s.mSkipHeader = s.mPrompt = true;
    s.mAutoSub = false;
    s.cboDelimiter = "Tab";
    std::string configFile = "/x/a.tvr";
    mNew_Click(s, configFile);

    EXPECT_EQ(configFile, "");
    ConversionSettings expected;
    expected.txtIDX = "";
    expected.txtXML = "";
    expected.txtDGCOMPNAME = "Default Company";
    expected.txtDGCOMPID = "DEFC";
    expected.txtNAME = "Default Project";
    expected.txtMaxFiles = "1000";
    expected.txtFNAMES = "A|IMAGEPATH";
    expected.txtFTYPES = "text|text";
    EXPECT_EQ(s, expected);
    EXPECT_TRUE(s.mAutoSub);
}

TEST(DefaultsTest, BarListsSplitOnEveryBarWithoutTrimming)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitBarList(""), V{});
    EXPECT_EQ(SplitBarList("a"), V{"a"});
    EXPECT_EQ(SplitBarList(" a | b "), (V{" a ", " b "}));
    EXPECT_EQ(SplitBarList("a||b"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitBarList("a|"), (V{"a", ""}));
    EXPECT_EQ(SplitBarList("|"), (V{"", ""}));
    EXPECT_EQ(SplitBarList(" "), V{" "});
}
