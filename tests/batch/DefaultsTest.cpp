#include "batch/Defaults.h"
#include "engine/ConversionSettings.h"

#include <gtest/gtest.h>

using namespace tollavar;

TEST(DefaultsTest, LoadDefaultsKeepsTheFieldListsAndNewForgetsTheFile)
{
    ConversionSettings s;
    s.fieldNames = "A|IMAGEPATH";
    s.fieldTypes = "text|text";
    s.indexFiles = "/x/*.idx";
    s.removeProcessedFiles = s.allowDuplicates = s.skipHeaderLine = s.promptWhenFinished = true;
    s.autoCreateSubfolders = false;
    s.delimiter = "Tab";
    std::string configFile = "/x/a.tvr";
    newCommand(s, configFile);

    EXPECT_EQ(configFile, "");
    ConversionSettings expected;
    expected.indexFiles = "";
    expected.xmlFilePath = "";
    expected.companyName = "Default Company";
    expected.companyId = "DEFC";
    expected.projectName = "Default Project";
    expected.maxDocuments = "1000";
    expected.fieldNames = "A|IMAGEPATH";
    expected.fieldTypes = "text|text";
    EXPECT_EQ(s, expected);
    EXPECT_TRUE(s.autoCreateSubfolders);
}

TEST(DefaultsTest, BarListsSplitOnEveryBarWithoutTrimming)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(splitBarList(""), V{});
    EXPECT_EQ(splitBarList("a"), V{"a"});
    EXPECT_EQ(splitBarList(" a | b "), (V{" a ", " b "}));
    EXPECT_EQ(splitBarList("a||b"), (V{"a", "", "b"}));
    EXPECT_EQ(splitBarList("a|"), (V{"a", ""}));
    EXPECT_EQ(splitBarList("|"), (V{"", ""}));
    EXPECT_EQ(splitBarList(" "), V{" "});
}
