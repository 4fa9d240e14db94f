#include "ui/MessageTable.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tollavar {
namespace {

Prompt prompt(MessageKind kind, std::string path = {}, std::vector<std::string> paths = {}, std::string reason = {})
{
    Prompt p{kind};
    p.path = std::move(path);
    p.paths = std::move(paths);
    p.reason = std::move(reason);
    return p;
}

Prompt recovery(RecoveryFacts::Outcome outcome, const std::function<void(RecoveryFacts&)>& set = {})
{
    Prompt p{MessageKind::InterruptedRun};
    p.recovery.outcome = outcome;
    p.recovery.indexFile = "/in/a.idx";
    if (set)
        set(p.recovery);
    return p;
}

// The messages whose words no run-through test pins down: each is composed from its values, and a
// slip in a space, a separator or a clause would reach users and scripts that read these lines.
TEST(MessageTable, ComposedMessagesKeepTheirWordsSpacingAndButtons)
{
    using Outcome = RecoveryFacts::Outcome;
    using Fate = RecoveryFacts::IndexFileFate;
    const std::string kept = "  The journal was kept as /dg/.DATAGRP.JOURNAL-1.";
    const std::string interrupted = "Interrupted Conversion";
    const struct
    {
        Prompt prompt;
        Message expected;
    } cases[] = {
        {prompt(MessageKind::DatagroupBusyWait, "/dg/EXMP0001"),
         {"Another conversion is writing to the datagroup /dg/EXMP0001.  Wait for it to finish?\r(Yes tries again; "
          "No gives up and converts nothing.)",
          "Datagroup in Use", MessageIcon::Question, MessageButtons::YesNo}},
        {prompt(MessageKind::DatagroupBusyWaiting, "/dg/EXMP0001"),
         {"Waiting for the conversion in /dg/EXMP0001\u2026", "Datagroup in Use", MessageIcon::None}},
        {prompt(MessageKind::DatagroupUnlockable, "/dg/EXMP0001"),
         {"The datagroup folder /dg/EXMP0001 cannot be locked (its file system does not support locks).  Converting "
          "without a lock: do not run two conversions into it at the same time.",
          "Tollavar", MessageIcon::Warning}},
        {prompt(MessageKind::ConversionStillRunning),
         {"A conversion is running. Close Tollavar when it has finished.", "Tollavar", MessageIcon::Warning}},
        {prompt(MessageKind::ManualNotFound, "", {"/opt/tollavar", "/usr/share/doc/tollavar"}),
         {"The user manual TLManual.pdf was not found. Tollavar looked for it in:\r/opt/tollavar\r"
          "/usr/share/doc/tollavar",
          "Tollavar", MessageIcon::Warning}},
        {prompt(MessageKind::WebSiteNotOpened, "https://example.invalid/", {}, "no handler"),
         {"Tollavar could not open the web site:\rhttps://example.invalid/\r\rno handler\r\rCheck that a program for "
          "it is installed, or open it yourself.",
          "Tollavar", MessageIcon::Warning}},
        {recovery(Outcome::PutBack,
                  [](RecoveryFacts& f) {
                      f.filesPutBack = 3;
                      f.saveUndone = true;
                  }),
         {"The conversion of /in/a.idx into this datagroup was interrupted before DATAGRP.XML was saved.  3 moved "
          "file(s) were put back where they came from, and DATAGRP.XML is as it was before (its save, cut short, was "
          "undone); the index file can be converted again.",
          interrupted, MessageIcon::Information}},
        {recovery(Outcome::FinishedAfterSave,
                  [](RecoveryFacts& f) {
                      f.configSaved = true;
                      f.indexFileFate = Fate::Removed;
                  }),
         {"The conversion of /in/a.idx into this datagroup was interrupted after DATAGRP.XML was saved with its "
          "documents.  Its remaining steps were done: the configuration was saved, the index file was removed, and "
          "the files it replaced were deleted.",
          interrupted, MessageIcon::Information}},
        {recovery(Outcome::FinishedAfterSave,
                  [](RecoveryFacts& f) {
                      f.indexFileFate = Fate::KeptChanged;
                      f.notPutBack = {"/s/1.TIF", "/s/2.TIF"};
                      f.keptAs = "/dg/.DATAGRP.JOURNAL-1";
                  }),
         {"The conversion of /in/a.idx into this datagroup was interrupted after DATAGRP.XML was saved with its "
          "documents.  Its remaining steps were done: the index file was kept because it has changed since, and the "
          "files it replaced were deleted.  These files could not be put back: /s/1.TIF, /s/2.TIF." +
              kept,
          interrupted, MessageIcon::Warning}},
        {recovery(Outcome::FinishedCommand, [](RecoveryFacts& f) { f.advancedTo = "2"; }),
         {"The conversion command that converted /in/a.idx last was interrupted after its last file.  Its remaining "
          "steps were done: the datagroup was marked for import and its number advanced to 2.",
          interrupted, MessageIcon::Information}},
        {recovery(Outcome::FinishedCommand),
         {"The conversion command that converted /in/a.idx last was interrupted after its last file.  Its remaining "
          "steps were done: the datagroup was marked for import.",
          interrupted, MessageIcon::Information}},
        {recovery(Outcome::Damaged,
                  [](RecoveryFacts& f) {
                      f.reason = "line 3 is damaged";
                      f.keptAs = "/dg/.DATAGRP.JOURNAL-1";
                  }),
         {"line 3 is damaged; nothing was changed." + kept, interrupted, MessageIcon::Warning}},
    };
    for (const auto& c : cases) {
        const Message said = promptMessage(c.prompt);
        EXPECT_EQ(said, c.expected) << said.caption << ": " << said.text;
        EXPECT_EQ(said.kind, c.prompt.kind) << said.text;
        EXPECT_EQ(messageTable().prompt(c.prompt), said);
    }
}

} // namespace
} // namespace tollavar
