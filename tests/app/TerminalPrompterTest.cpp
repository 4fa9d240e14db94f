#include "app/TerminalPrompter.h"
#include "app/TerminalProgress.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tollavar {
namespace {

const Message kMissing{"Source File: /img/1.tif\rIndex File: /in/a.csv\rSkip file and continue processing?",
                       "Source File is Missing", MessageIcon::Warning, MessageButtons::YesNo};
const Message kCorrupt{"Datagrp.xml file is corrupt!  Do you want to delete?", "Datagrp.xml Cleanup",
                       MessageIcon::Question, MessageButtons::YesNo};
const Message kExists{"Image file already exists! /dg/1.tif.  Do you want to replace this with the new file?",
                      "File Exists", MessageIcon::Question, MessageButtons::YesNoCancel};
const Message kUndo{"An error has occured during the conversion to XML.  Do you want to undo changes to the "
                    "DATAGRP.XML file?",
                    "Undo Changes?", MessageIcon::None, MessageButtons::YesNo, MessageKind::UndoOffer};
const Message kInUse{"XML file is in use.  Click OK to try again.", "Tollavar", MessageIcon::Question,
                     MessageButtons::Ok, MessageKind::XmlInUseWait};

TEST(TerminalPrompter, AsksByNameOnATerminalAndOtherwiseTakesTheAnswerThatChangesLeast)
{
    struct Case
    {
        Message message;
        bool canAsk;
        std::string input;
        MessageAnswer expected;
    };
    const Message report{"23 - Source file not found.\rLine # 17", "Conversion Error", MessageIcon::Error};
    const Case cases[] = {
        {kMissing, false, "yes\n", MessageAnswer::No},
        {kCorrupt, false, "yes\n", MessageAnswer::No},
        {kExists, false, "yes\n", MessageAnswer::Cancel},
        {kUndo, false, "no\n", MessageAnswer::Yes},
        {report, true, "no\n", MessageAnswer::Ok},
        {kMissing, true, " NO \n", MessageAnswer::No},
        {kMissing, true, "maybe\ncancel\nYes\n", MessageAnswer::Yes}, // Cancel is not offered
        {kExists, true, "c\n", MessageAnswer::Cancel},
        {kExists, true, "what\n", MessageAnswer::Cancel}, // the input ends before an answer
        {kUndo, true, "", MessageAnswer::Yes},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.input);
        std::ostringstream out;
        TerminalPrompter prompter(in, out, c.canAsk, {});
        EXPECT_EQ(prompter.show(c.message), c.expected) << c.message.caption << " / " << c.input;
        EXPECT_NE(out.str().find(c.message.caption), std::string::npos);
        if (!c.canAsk || c.message.buttons == MessageButtons::Ok) {
            EXPECT_EQ(in.tellg(), 0) << "the input was read for " << c.message.caption;
        }
    }

    std::istringstream in;
    std::ostringstream out;
    TerminalPrompter(in, out, false, {}).show(kMissing);
    EXPECT_NE(out.str().find("/img/1.tif\nIndex File: /in/a.csv\nSkip"), std::string::npos) << out.str();
}

TEST(TerminalPrompter, TheInUseWaitPausesEachTimeAndSaysSoOnce)
{
    std::istringstream in;
    std::ostringstream out;
    int pauses = 0;
    TerminalPrompter prompter(in, out, true, [&] { ++pauses; });
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(prompter.show(kInUse), MessageAnswer::Ok);
    EXPECT_EQ(pauses, 3);
    const std::string said = out.str();
    EXPECT_NE(said.find(kInUse.text), std::string::npos);
    EXPECT_EQ(said.find(kInUse.text), said.rfind(kInUse.text)) << said;
}

// A progress line wider than the terminal wraps, and each redraw leaves a row of old text behind: the
// line keeps within the width but its last column, the name elided in its middle.
TEST(TerminalProgress, TheLineFitsTheTerminalWithTheNameElidedInItsMiddle)
{
    const std::string rest = ": 1200 of 30000 lines, 950 documents/s, 0:30 left";
    struct Case
    {
        std::string name;
        size_t width;
        std::string expected;
    };
    const Case cases[] = {
        {"short.idx", 0, "short.idx" + rest},  // width unknown: as it is
        {"short.idx", 80, "short.idx" + rest}, // fits
        {"a-very-long-index-file-name-from-the-station.idx", 70,
         "a-very-lo...tion.idx" + rest}, // the name's middle goes
        {"caf\u00e9-\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9.idx", 62,
         "caf\u00e9-....idx" + rest},             // by characters, not bytes
        {"short.idx", 20, "short.idx: 1200 of "}, // even the counts do not fit: cut at the edge
    };
    for (const Case& c : cases) {
        const std::string line = fitProgressLine(c.name, rest, c.width);
        EXPECT_EQ(line, c.expected) << c.width;
    }
}

} // namespace
} // namespace tollavar
