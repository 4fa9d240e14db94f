#include "batch/ConvertCommand.h"

#include "BatchFixture.h"

#include "batch/ConfigFile.h"
#include "engine/ConversionRun.h"
#include "engine/StopRequest.h"
#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"
#include "filetools/OpenForWriting.h"
#include "support/Processes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

// What the fake conversion run does for one index file, by name.
struct Script
{
    bool succeed = true;
    bool fillsDatagroup = false;
    bool cancelsBatch = false;
};

using Paths = std::vector<std::string>;

// Restores the current folder on every way out of a test.
class CurrentFolder
{
public:
    explicit CurrentFolder(const std::string& folder) : m_saved(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() { std::filesystem::current_path(m_saved); }

private:
    std::filesystem::path m_saved;
};

} // namespace

class ConvertCommand : public BatchTest
{
protected:
    void SetUp() override
    {
        m_settings.indexFiles = "";
        m_settings.xmlFilePath = m_dir / "out/DATAGRP.XML";
        m_settings.companyId = "DEFC";
        m_settings.datagroupNumber = "7";
        m_configFile = m_dir / "setup.tvr";
    }

    ConvertOutcome run()
    {
        return convertCommand(m_ctx, [this](ConversionContext& conversion, const std::string& indexFile,
                                            const std::string& xmlFile, const std::string& rootName,
                                            const std::string& documentName) {
            EXPECT_EQ(xmlFile, m_xmlPath);
            EXPECT_EQ(rootName + "/" + documentName, "REZI_DATAGRP/DOCUMENT");
            m_converted.push_back(indexFile);
            const Script script = m_scripts[std::filesystem::path(indexFile).filename().string()];
            if (m_during)
                m_during();
            conversion.flags.datagroupFull |= script.fillsDatagroup;
            conversion.flags.batchCanceled |= script.cancelsBatch;
            if (script.succeed && !exists(xmlFile)) // as a real run leaves it
                writeFile(xmlFile, "<REZI_DATAGRP/>");
            return script.succeed;
        });
    }

    std::string index(const std::string& relative) const
    {
        writeFile(m_dir / relative, "a,b\r\n");
        return m_dir / relative;
    }

    std::string m_xmlPath = m_dir / "out/DEFC0007/DATAGRP.XML";
    std::string m_marker = m_dir / "out/DEFC0007/DATAGRP.SUBMIT";
    std::map<std::string, Script> m_scripts;
    Paths m_converted;
    std::function<void()> m_during;
};

TEST_F(ConvertCommand, ConvertsEachSelectedFileIntoOneDatagroup)
{
    const std::string b = index("two/b.idx");
    const std::string a = index("one/a.idx");
    m_settings.indexFiles = b + "|" + a;
    writeFile(m_marker, "old");
    m_configFile = "";
    m_dialog.choose(m_dir / "chosen.tvr"); // the first save asks, the second goes to the chosen file
    const ConvertOutcome outcome = run();
    EXPECT_TRUE(outcome.ranToEnd && outcome.allConverted);
    EXPECT_EQ(m_converted, (Paths{b, a}));
    EXPECT_EQ(readFile(m_marker), "");
    EXPECT_EQ(m_configFile, m_dir / "chosen.tvr");
    EXPECT_EQ(readFile(m_configFile), serializeConfig(m_settings));
    EXPECT_EQ(m_settings.datagroupNumber, "7");
}

TEST_F(ConvertCommand, FailuresBeforeAnythingIsCreated)
{
    const std::string xml = m_settings.xmlFilePath;
    auto warning = [](std::string text, std::string source) {
        return Message{std::move(text), "Error in Convert - " + source, MessageIcon::Warning, MessageButtons::Ok};
    };
    const std::pair<std::string, Message> cases[] = {
        {"7", warning("Missing XML file setting", "Reading Configuration")},
        {"", warning("Missing index file setting", "Reading Configuration")},
        {"32768", warning("Overflow", "Tollavar")},
        {"-32769", warning("Overflow", "Tollavar")},
        {"7x", warning("Type mismatch", "Tollavar")},
    };
    m_settings.indexFiles = index("in/a.idx");
    for (const auto& [number, message] : cases) {
        m_settings.xmlFilePath = number == "7" ? "" : xml;
        m_settings.indexFiles = number.empty() ? "" : index("in/a.idx");
        m_settings.datagroupNumber = number.empty() ? "7" : number;
        m_flags = RunFlags{true, true};
        m_prompter.expect(message.caption, MessageAnswer::Ok);
        EXPECT_FALSE(run().ranToEnd) << number;
        EXPECT_EQ(m_prompter.seen().back(), message) << number;
        EXPECT_TRUE(m_host.panel1.empty()) << number << ": no notice beside the message";
        EXPECT_FALSE(m_flags.datagroupFull || m_flags.batchCanceled) << "the flags are cleared first";
    }
    EXPECT_TRUE(m_converted.empty());
    EXPECT_FALSE(exists(m_dir / "out"));
}

TEST_F(ConvertCommand, ItemsSelectExactPathsAndPatternsByExtension)
{
    for (const char* name : {"in/a1.idx", "in/a2.IDX", "in/b.idx", "in/notes.txt", "in/README"})
        index(name);
    std::filesystem::create_directories(m_dir / "in/sub.idx");
    // The program may have been started anywhere: a file manager starts it in the home folder.
    const std::string elsewhere = index("elsewhere/in/a1.idx");
    CurrentFolder here(m_dir / "elsewhere");
    const std::pair<std::string, Paths> cases[] = {
        {m_dir / "in/A*.idx", {"a1.idx", "b.idx"}}, // the pattern ignores case, the extension does not
        {m_dir / "in/A*.IDX", {"a2.IDX"}},
        {m_dir / "in/*.*", {"a1.idx", "a2.IDX", "b.idx", "notes.txt", "README"}}, // in order without regard to case
        {"in/*.idx", {"a1.idx", "b.idx"}}, // a relative item lies beside the configuration file
        {m_dir / "in/q*.idx", {}},
        {m_dir / "in/A1.idx", {}}, // exact items keep their case
        {m_dir / "in/a?.idx", {}}, // without "*" an item is an exact path
        {"in/a1.idx", {"a1.idx"}},
    };
    for (const auto& [item, names] : cases) {
        m_converted.clear();
        m_settings.indexFiles = item;
        EXPECT_TRUE(run().ranToEnd) << item;
        Paths expected;
        for (const std::string& name : names)
            expected.push_back(m_dir / "in/" + name);
        EXPECT_EQ(m_converted, expected) << item;
    }

    // Typed with no configuration file behind it, a path is read against the current folder; an exact
    // relative item then selects nothing, since listed files carry full paths.
    for (const std::string item : {"in/*.idx", "in/a1.idx"}) {
        m_converted.clear();
        m_configFile = "";
        m_dialog.choose(m_dir / "elsewhere/chosen.tvr");
        m_settings.indexFiles = item;
        m_settings.xmlFilePath = "out/DATAGRP.XML";
        m_xmlPath = "out/DEFC0007/DATAGRP.XML";
        EXPECT_TRUE(run().ranToEnd) << item;
        EXPECT_EQ(m_converted, item.find('*') == std::string::npos ? Paths{} : Paths{elsewhere}) << item;
    }
}

TEST_F(ConvertCommand, RemoveDeletesConvertedFilesAndCanDeselectLaterOnes)
{
    m_settings.removeProcessedFiles = true;
    const std::string a = index("in/a.idx");
    const std::string b = index("in/b.idx");
    const std::string c = index("in/c.idx");
    std::filesystem::permissions(a, std::filesystem::perms::owner_read);
    m_scripts["b.idx"].succeed = false;
    m_settings.indexFiles = m_dir / "in/*.idx";
    ConvertOutcome outcome = run();
    EXPECT_TRUE(outcome.ranToEnd);
    EXPECT_FALSE(outcome.allConverted);
    EXPECT_EQ(m_converted, (Paths{a, b, c}));
    EXPECT_TRUE(!exists(a) && exists(b) && !exists(c));

    // The pattern test is made anew for each file: once a1 is gone nothing matches "a*.idx".
    m_converted.clear();
    const std::string a1 = index("in/a1.idx");
    m_settings.indexFiles = m_dir / "in/a*.idx";
    EXPECT_TRUE(run().ranToEnd);
    EXPECT_EQ(m_converted, (Paths{a1}));
    EXPECT_TRUE(exists(b));
}

TEST_F(ConvertCommand, FullDatagroupTakesTheRestThenAdvancesByOne)
{
    const std::string a = index("in/a.idx");
    const std::string b = index("in/b.idx");
    const std::string c = index("in/c.idx");
    m_scripts["b.idx"].fillsDatagroup = true;
    m_settings.indexFiles = a + "|" + b + "|" + c;
    EXPECT_TRUE(run().ranToEnd);
    EXPECT_EQ(m_converted.size(), 3u);
    EXPECT_TRUE(exists(m_marker));
    EXPECT_EQ(m_settings.datagroupNumber, "8");
    ConversionSettings saved;
    applyConfigText(readFile(m_configFile), saved);
    EXPECT_EQ(saved.datagroupNumber, "8");

    // The number is rounded for the folder; the advance reads it again, in 32-bit range.
    m_settings.datagroupNumber = " 6.5 ";
    m_xmlPath = m_dir / "out/DEFC0006/DATAGRP.XML";
    m_during = [this] { m_settings.datagroupNumber = "40000"; };
    EXPECT_TRUE(run().ranToEnd);
    EXPECT_EQ(m_settings.datagroupNumber, "40001");
}

TEST_F(ConvertCommand, CancelledBatchEndsAtOnce)
{
    const std::string a = index("in/a.idx");
    m_scripts["a.idx"] = {false, true, true};
    m_settings.indexFiles = a + "|" + index("in/b.idx");
    EXPECT_FALSE(run().ranToEnd);
    EXPECT_EQ(m_converted, (Paths{a}));
    EXPECT_FALSE(exists(m_marker));
    EXPECT_EQ(m_settings.datagroupNumber, "7");
}

TEST_F(ConvertCommand, FailuresAfterConversionsUndoNothing)
{
    const std::string a = index("in/a.idx");
    m_scripts["a.idx"].fillsDatagroup = true;
    struct Case
    {
        const char* label;
        std::string idx, xml, compid, source;
    };
    const Case cases[] = {
        {"trailing bar", a + "|", m_dir / "out/DATAGRP.XML", "DEFC", "List Folder"},
        {"missing folder", a + "|" + m_dir / "nowhere/*.idx", m_dir / "out/DATAGRP.XML", "DEFC", "List Folder"},
    };
    for (const Case& c : cases) {
        m_converted.clear();
        m_settings.indexFiles = c.idx;
        m_settings.xmlFilePath = c.xml;
        m_settings.companyId = c.compid;
        m_xmlPath = FileTools::folderPart(c.xml) + "/" + c.compid + "0007/DATAGRP.XML";
        m_prompter.clear();
        m_prompter.expect("Error in Convert - " + c.source, MessageAnswer::Ok);
        EXPECT_FALSE(run().ranToEnd) << c.label;
        EXPECT_EQ(m_converted, (Paths{a})) << c.label;
        EXPECT_EQ(onlyMessage().icon, MessageIcon::Warning) << c.label;
        EXPECT_EQ(m_settings.datagroupNumber, "7") << c.label;
        EXPECT_TRUE(exists(m_configFile)) << c.label << ": the save after the success stays";
    }
    EXPECT_FALSE(exists(m_marker));

    // Running as root, a folder's permissions cannot refuse a listing; the file layer's hook can.
    std::filesystem::remove(m_configFile);
    m_settings.indexFiles = m_dir / "in/*.idx";
    faults::arm({1, EACCES, false, "List Folder"});
    m_prompter.clear();
    m_prompter.expect("Error in Convert - List Folder", MessageAnswer::Ok);
    EXPECT_FALSE(run().ranToEnd);
    EXPECT_EQ(onlyMessage().text, "Permission denied: " + m_dir / "in");
}

TEST_F(ConvertCommand, SecondStartWhileRunningIsRefused)
{
    m_settings.indexFiles = index("in/a.idx");
    ConvertOutcome inner;
    m_during = [&] { inner = runCommand(m_ctx); };
    const ConvertOutcome outer = run();
    EXPECT_TRUE(inner.refused);
    EXPECT_TRUE(!outer.refused && outer.ranToEnd);

    // A failure thrown out of a conversion is reported and does not leave the command marked running.
    m_during = [] { throw Failure(ErrorCode::InvalidCall, "Fake", "thrown"); };
    m_prompter.expect("Error in Convert - Fake", MessageAnswer::Ok);
    EXPECT_FALSE(run().ranToEnd);
    m_during = nullptr;
    EXPECT_FALSE(run().refused);
}

TEST_F(ConvertCommand, RunsTheRealConversionEndToEnd)
{
    m_settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT";
    m_settings.fieldTypes = "text|text|number";
    m_settings.imageFolder = m_dir / "scans";
    m_settings.maxDocuments = "1";
    m_settings.removeProcessedFiles = true;
    writeFile(m_dir / "scans/B1/0001.TIF", "image");
    writeFile(m_dir / "scans/B1/0002.TIF", "image");
    writeFile(m_dir / "in/first.idx", "Smith,\\B1\\0001.TIF,3\r\n");
    writeFile(m_dir / "in/second.idx", "Jones,\\B1\\0002.TIF,1\r\n");
    m_settings.indexFiles = m_dir / "in/*.idx";

    const ConvertOutcome outcome = runCommand(m_ctx);
    ASSERT_TRUE(outcome.ranToEnd && outcome.allConverted)
        << (m_prompter.seen().empty() ? "" : m_prompter.seen().back().text);
    const std::string xml = readFile(m_xmlPath);
    EXPECT_NE(xml.find("DOCID=\"2\""), std::string::npos);
    EXPECT_TRUE(exists(m_dir / "out/DEFC0007/B1/0001.TIF") && exists(m_dir / "out/DEFC0007/B1/0002.TIF"));
    EXPECT_EQ(readFile(m_marker), "");
    EXPECT_FALSE(exists(m_dir / "in/first.idx") || exists(m_dir / "in/second.idx"));
    ConversionSettings saved;
    applyConfigText(readFile(m_configFile), saved);
    EXPECT_EQ(saved.datagroupNumber, "8");
    EXPECT_TRUE(m_prompter.seen().empty());
}

TEST_F(ConvertCommand, NothingMatchedIsSaidAndNothingIsSubmitted)
{
    index("in/a.idx");
    const std::string items = m_dir / "in/*.txt|" + m_dir / "in/A.idx";
    m_settings.indexFiles = items;
    ConvertOutcome outcome = run();
    EXPECT_TRUE(outcome.ranToEnd && outcome.allConverted) << "an empty hot folder is no failure";
    EXPECT_EQ(outcome.notices, Paths{"No index file matched: " + items});
    EXPECT_EQ(m_host.panel1, "No index file matched: " + items);
    EXPECT_TRUE(m_converted.empty());
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out/DEFC0007")) << "the folder made for the lock goes again";
    EXPECT_FALSE(exists(m_marker)) << "a datagroup without DATAGRP.XML has nothing to submit";

    writeFile(m_xmlPath, "<REZI_DATAGRP/>");
    EXPECT_TRUE(run().ranToEnd);
    EXPECT_EQ(readFile(m_marker), "") << "an earlier run's datagroup is submitted again";
}

TEST_F(ConvertCommand, PathsWithoutAFolderLieBesideTheConfigurationAndCaseIsIgnoredInEveryScript)
{
    const std::string accented = index("in/\xC3\x89t\xC3\xA9.idx"); // "Été.idx"
    const std::string plain = m_dir / "in/ete.idx";
    CurrentFolder here(m_dir.path());
    m_configFile = m_dir / "in/setup.tvr";
    m_settings.xmlFilePath = "DATAGRP.XML";
    m_xmlPath = m_dir / "in/DEFC0007/DATAGRP.XML";
    const std::pair<std::string, Paths> cases[] = {
        {"\xC3\xA9*.idx", {accented}}, // "é*.idx"
        {"*.idx", {plain, accented}},
    };
    for (const auto& [item, expected] : cases) {
        m_converted.clear();
        m_settings.indexFiles = item;
        EXPECT_TRUE(run().ranToEnd) << item << ": " << (m_prompter.seen().empty() ? "" : m_prompter.seen().back().text);
        Paths full;
        for (const std::string& path : m_converted)
            full.push_back(std::filesystem::weakly_canonical(path).string());
        EXPECT_EQ(full, expected) << item;
        index("in/ete.idx"); // only now: the first case would select it by its extension
    }
    EXPECT_TRUE(exists(m_dir / "in/DEFC0007/DATAGRP.SUBMIT"));
    EXPECT_FALSE(exists("/DEFC0007") || exists(m_dir / "DEFC0007"));
}

TEST_F(ConvertCommand, IndexFilesStillBeingWrittenAreLeftAlone)
{
    m_settings.removeProcessedFiles = true;
    const std::string done = index("in/done.idx");
    const std::string growing = index("in/growing.idx");
    const std::string held = index("in/held.idx");
    m_configFile = m_dir / "in/setup.tvr"; // the running configuration lies in the hot folder
    writeFile(m_configFile, serializeConfig(m_settings));
    m_settings.indexFiles = m_dir / "in/*.*";
    m_during = [&] {
        if (m_converted.back() == growing) {
            std::ofstream more(growing, std::ios::app);
            more << "c,d\r\n";
        }
    };
    FileHeldElsewhere writer(held);
    const ConvertOutcome outcome = run();
    EXPECT_TRUE(outcome.ranToEnd && outcome.allConverted);
    EXPECT_EQ(m_converted, (Paths{done, growing})) << "neither the held file nor the configuration is converted";
    EXPECT_FALSE(exists(done));
    EXPECT_EQ(readFile(growing), "a,b\r\nc,d\r\n");
    EXPECT_TRUE(exists(held));
    EXPECT_EQ(outcome.notices, (Paths{"Index file changed while it was converted, not removed: " + growing,
                                      "Index file in use, left for the next run: " + held}));
}

// The image folder is read once for the whole command; what arrives in it between index files is found.
TEST_F(ConvertCommand, ImagesWrittenBetweenIndexFilesAreStillPlaced)
{
    m_settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT";
    m_settings.fieldTypes = "text|text|number";
    m_settings.imageFolder = m_dir / "scans";
    m_settings.maxDocuments = "1000";
    std::string first;
    for (int n = 1; n <= 40; ++n) { // enough lines for the folder to be listed
        writeFile(m_dir / ("scans/B1/" + std::to_string(n) + ".TIF"), "image");
        first += "Name " + std::to_string(n) + ",\\B1\\" + std::to_string(n) + ".TIF,1\r\n";
    }
    writeFile(m_dir / "in/first.idx", first);
    writeFile(m_dir / "in/second.idx", "Late,\\B1\\late.TIF,1\r\n");
    m_settings.indexFiles = m_dir / "in/*.idx";

    const ConvertOutcome outcome = convertCommand(
        m_ctx, [this](ConversionContext& conversion, const std::string& indexFile, const std::string& xmlFile,
                      const std::string& rootName, const std::string& documentName) {
            if (indexFile.ends_with("second.idx")) {
                writeFile(m_dir / "scans/B1/late.TIF", "late image");
                writeFile(m_dir / "scans/B1/late.txt", "late text");
            }
            return convertIndexFile(conversion, indexFile, xmlFile, rootName, documentName);
        });
    ASSERT_TRUE(outcome.ranToEnd && outcome.allConverted)
        << (m_prompter.seen().empty() ? "" : m_prompter.seen().back().text);
    EXPECT_EQ(readFile(m_dir / "out/DEFC0007/B1/late.TIF"), "late image");
    EXPECT_EQ(readFile(m_dir / "out/DEFC0007/B1/late.PVFULLTEXT"), "late text");
    EXPECT_NE(readFile(m_xmlPath).find("DOCID=\"41\""), std::string::npos);
}

TEST_F(ConvertCommand, TheMarkerLiesBesideDatagrpXmlWhateverTheFoldersAreCalled)
{
    struct Case
    {
        std::string xmlLocation; // below the test folder
        std::string companyId;
        std::string datagroup; // the folder the marker belongs in, below the test folder
    };
    const Case cases[] = {
        {"exports.xml.d/DATAGRP.XML", "DEFC", "exports.xml.d/DEFC0007"},
        {"out/DATAGRP.XML", "ACME.XML", "out/ACME.XML0007"},
        {"a.Xml/b.XML/DATAGRP.XML", "x.xml", "a.Xml/b.XML/x.xml0007"},
    };
    m_settings.maxDocuments = "0";
    for (const Case& c : cases) {
        m_settings.xmlFilePath = m_dir / c.xmlLocation;
        m_settings.companyId = c.companyId;
        m_settings.datagroupNumber = "7";
        m_xmlPath = m_dir / (c.datagroup + "/DATAGRP.XML");
        m_settings.indexFiles = index("in/a.idx");
        m_scripts["a.idx"].fillsDatagroup = true;
        const ConvertOutcome outcome = run();
        EXPECT_TRUE(outcome.ranToEnd) << c.datagroup;
        EXPECT_TRUE(exists(m_dir / (c.datagroup + "/DATAGRP.SUBMIT"))) << c.datagroup;
        EXPECT_EQ(m_settings.datagroupNumber, "8") << c.datagroup << ": a full datagroup advances";
    }
}

TEST_F(ConvertCommand, OnlyIndexFilesOpenForWritingElsewhereAreLeft)
{
    struct Guard
    {
        ~Guard() { faults::forceWriterCheckUnknown(false); }
    } guard;
    const struct
    {
        const char* label;
        int openFlags;
        bool writersHidden; // the system will not say who has the file open
        bool converted;
    } cases[] = {
        {"reader", O_RDONLY, false, true},
        {"writer", O_WRONLY, false, false},
        {"reader and writer", O_RDWR, false, false},
        {"reader, writers hidden", O_RDONLY, true, true},
    };
    const std::string unknown = "Which programs are writing index files cannot be asked here (no permission); an "
                                "index file is converted once its size and time stay still for a second";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        m_converted.clear();
        const std::string held = index("in/held.idx");
        const std::string other = index("in/other.idx");
        m_settings.indexFiles = m_dir / "in/*.idx";
        faults::forceWriterCheckUnknown(c.writersHidden);
        FileHeldElsewhere holder(held, c.openFlags);
        const ConvertOutcome outcome = run();
        EXPECT_TRUE(outcome.ranToEnd && outcome.allConverted);
        EXPECT_EQ(m_converted, c.converted ? (Paths{held, other}) : (Paths{other}));
        Paths notices;
        if (c.writersHidden)
            notices.push_back(unknown);
        if (!c.converted)
            notices.push_back("Index file in use, left for the next run: " + held);
        EXPECT_EQ(outcome.notices, notices);
    }

    // Where writers cannot be told, a file that still changes is left for the next run.
    faults::forceWriterCheckUnknown(true);
    m_converted.clear();
    const std::string growing = index("in/held.idx");
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::ofstream more(growing, std::ios::app);
        more << "c,d\r\n";
    });
    const ConvertOutcome outcome = run();
    writer.join();
    EXPECT_EQ(m_converted, Paths{m_dir / "in/other.idx"});
    EXPECT_EQ(outcome.notices, (Paths{unknown, "Index file in use, left for the next run: " + growing}));
}

// A name a folder listing gave is used as listed: a backslash in it (legal on Linux) is no separator, so
// neither that file nor the ones after it are kept from converting.
TEST_F(ConvertCommand, AListedNameIsNeverSplitAgain)
{
    m_settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT";
    m_settings.fieldTypes = "text|text|number";
    m_settings.imageFolder = m_dir / "scans";
    m_settings.removeProcessedFiles = true;
    writeFile(m_dir / "scans/B1/0001.TIF", "image");
    writeFile(m_dir / "scans/B1/0002.TIF", "image");
    writeFile(m_dir / "in/a\\odd.idx", "Smith,\\B1\\0001.TIF,3\r\n");
    writeFile(m_dir / "in/b.idx", "Jones,\\B1\\0002.TIF,1\r\n");
    m_settings.indexFiles = m_dir / "in/*.idx";

    const ConvertOutcome outcome = runCommand(m_ctx);
    ASSERT_TRUE(outcome.ranToEnd && outcome.allConverted)
        << (m_prompter.seen().empty() ? "" : m_prompter.seen().back().text);
    EXPECT_TRUE(exists(m_dir / "out/DEFC0007/B1/0001.TIF") && exists(m_dir / "out/DEFC0007/B1/0002.TIF"));
    EXPECT_FALSE(exists(m_dir / "in/a\\odd.idx") || exists(m_dir / "in/b.idx"));
    ASSERT_EQ(outcome.record.files.size(), 2u);
    EXPECT_EQ(outcome.record.files[0].path, m_dir / "in/a\\odd.idx");
}

// A stop that comes once the command holds the datagroup, before its first index file, says so as a
// stop before the command does; nothing is converted.
TEST_F(ConvertCommand, AStopBeforeTheFirstFileSaysSo)
{
    index("in/a.idx");
    m_settings.indexFiles = m_dir / "in/*.idx";
    requestStop(SIGTERM);
    const ConvertOutcome outcome = run();
    clearStopRequest();
    EXPECT_TRUE(m_converted.empty());
    EXPECT_FALSE(outcome.ranToEnd);
    EXPECT_EQ(outcome.notices, Paths{"Stopped by SIGTERM before converting anything"});
    EXPECT_EQ(outcome.record.outcome, "stopped");
    EXPECT_NE(outcome.record.exitStatus, 0);
    EXPECT_FALSE(exists(m_marker));
}
