#include "batch/BatchCheck.h"

#include "BatchFixture.h"

#include "support/ExampleBatchSettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace tollavar;
using namespace tollavar::testing;

class BatchCheck : public BatchTest
{
};

TEST_F(BatchCheck, ReportsTheLineThatWouldNeedADocIdAbove32767)
{
    const struct
    {
        int lastDocIdBefore;
        int lines;
        long overflowLine; // 0: none
    } cases[] = {
        {32765, 2, 0},
        {32766, 2, 2},
        {32767, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lastDocIdBefore) + " + " + std::to_string(c.lines));
        settings = exampleBatchSettings(dir, "in/a.csv");
        writeFile(dir / "out/EXMP0001/DATAGRP.XML",
                  "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<REZI_DATAGRP><PROJECT><DOCUMENTS><DOCUMENT "
                  "DOCID=\"" +
                      std::to_string(c.lastDocIdBefore) + "\"/></DOCUMENTS></PROJECT></REZI_DATAGRP>");
        std::string lines;
        for (int i = 1; i <= c.lines; ++i)
            lines += "n,,1," + std::to_string(i) + "\r\n";
        writeFile(dir / "in/a.csv", lines);

        const BatchCheckReport report = CheckBatch(ctx);
        ASSERT_EQ(report.files.size(), 1u);
        const IndexFileCheck& file = report.files.front();
        if (c.overflowLine == 0) {
            EXPECT_TRUE(file.problems.empty());
            EXPECT_EQ(file.lastDocId, c.lastDocIdBefore + c.lines);
            continue;
        }
        ASSERT_EQ(file.problems.size(), 1u);
        EXPECT_EQ(file.problems.front(), "Line " + std::to_string(c.overflowLine) +
                                             " would need DOCID 32768: the run would stop there with \"6 - Overflow: "
                                             "a datagroup holds at most 32,767 documents; split the index file or "
                                             "lower Max Files per Datagroup\"");
        EXPECT_EQ(file.lastDocId, 32767);
        EXPECT_GT(report.blockingCount(), 0);
    }
}

TEST_F(BatchCheck, FindsNamesInOtherLetterCaseAsTheRunDoes)
{
    const struct
    {
        const char* imagePath;
        std::vector<const char*> files; // below the image folder
        long missing;
        long fullText;
    } cases[] = {
        {"\\B1\\1.TIF", {"B1/1.tif"}, 0, 0},
        {"\\B1\\2.TIF", {"B1/2.tif", "B1/2.Tif"}, 1, 0},
        {"\\B1\\3.TIF", {"B1/3.TIF", "B1/3.TXT"}, 0, 1},
        {"\\B1\\4.TIF", {"B1/4.TIF", "B1/4.TXT", "B1/4.Txt"}, 1, 0},
        {"\\B1\\5.TIF", {}, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.imagePath);
        settings = exampleBatchSettings(dir, "in/a.csv");
        std::filesystem::remove_all(dir / "images");
        for (const char* file : c.files)
            writeFile(dir / "images/" + file, "x");
        writeFile(dir / "in/a.csv", std::string("n,") + c.imagePath + ",1,1\r\n");
        const BatchCheckReport report = CheckBatch(ctx);
        ASSERT_EQ(report.files.size(), 1u);
        EXPECT_EQ(report.files.front()[CheckKind::MissingImage].count, c.missing);
        EXPECT_EQ(report.files.front()[CheckKind::FullText].count, c.fullText);
    }
}
