#include "batch/ConfigFile.h"

#include "BatchFixture.h"

#include "filetools/Failure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace tollavar;
using namespace tollavar::testing;
using namespace std::string_literals;

namespace {

using Lines = std::vector<std::string>;

std::string crlf(const Lines& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

// Settings unlike both the design values and the defaults, every switch the other way round.
ConversionSettings distinctSettings()
{
    ConversionSettings s;
    s.indexFiles = "/in/a.idx|/in/b*.idx";
    s.xmlFilePath = "/out/DATAGRP.XML";
    s.datagroupNumber = "42";
    s.companyName = "Caf\xC3\xA9";
    s.companyId = "CAFE";
    s.projectId = "P9";
    s.projectName = "Project Nine";
    s.fieldNames = "A|B";
    s.fieldTypes = "text|number";
    s.maxDocuments = "77";
    s.imageFolder = "/img";
    s.delimiter = "Tab";
    s.removeProcessedFiles = s.allowDuplicates = s.skipHeaderLine = s.promptWhenFinished = true;
    s.autoCreateSubfolders = false;
    return s;
}

const Lines kFixed = {"/in/a.idx", "/out/DATAGRP.XML", "42",   "Co",   "CAFE", "Project Nine", "P9",
                      "A|B",       "text|number",      "True", "False"};

} // namespace

TEST(ConfigFormat, WritesEighteenLinesAndReadsThemBack)
{
    EXPECT_EQ(serializeConfig(distinctSettings()),
              crlf({"/in/a.idx|/in/b*.idx", "/out/DATAGRP.XML", "42", "Caf\xE9", "CAFE", "Project Nine", "P9", "A|B",
                    "text|number", "True", "False", "7", "77", "/img", "True", "Tab", "True", "True"}));

    struct Case
    {
        std::string firstLine;
        bool utf8File;
    };
    const Case cases[] = {
        {"Caf\xC3\xA9 \xC2\x81\xC2\x9D", false},         // windows-1252, its undefined bytes included
        {"\xE6\x9D\xB1\xE4\xBA\xAC \xE2\x82\xAC", true}, // characters windows-1252 lacks
        {"\xC3\xAF\xC2\xBB\xC2\xBFx", true},             // in windows-1252 these would read back as a byte-order mark
    };
    for (const Case& c : cases) {
        ConversionSettings written = distinctSettings();
        written.indexFiles = c.firstLine;
        const std::string bytes = serializeConfig(written);
        EXPECT_EQ(bytes.starts_with("\xEF\xBB\xBF"), c.utf8File) << c.firstLine;
        ConversionSettings read;
        applyConfigText(bytes, read);
        EXPECT_EQ(read, written) << c.firstLine;
    }
}

TEST(ConfigFormat, ReadsTheLaterLinesByVersion)
{
    // Values unlike the defaults a version resets to, so that "kept" and "reset" differ.
    ConversionSettings before;
    before.imageFolder = "/old";
    before.delimiter = "|";
    before.allowDuplicates = before.promptWhenFinished = before.skipHeaderLine = true;
    struct Case
    {
        const char* label;
        Lines later; // lines 12 onwards
        std::string maxFiles, imageFolder, delimiter;
        bool allowDupes, prompt, skipHeader;
    };
    const Case cases[] = {
        {"eleven lines keep all six", {}, "2500", "/old", "|", true, true, true},
        {"version 7", {"7", "50", "/img", "False", ";", "True", "False"}, "50", "/img", ";", false, true, false},
        {"version 2 resets what it lacks", {"2", "50", "/img", "0", ";", "1", "1"}, "50", "", ",", false, false, false},
        {"version 7 ending after line 15", {"7", "50", "/img", "no"}, "50", "/img", "|", true, true, true},
        {"version 5", {"5", "50", "/img", "0", ";", "1", "1"}, "50", "/img", ";", false, false, false},
        {"not a number is version 0", {"seven", "50", "/img"}, "50", "", ",", false, false, false},
        {"outside 16 bits is version 0", {"32768", "50", "/img"}, "50", "", ",", false, false, false},
        {"6.5 rounds to the even 6",
         {" 6.5 ", "50", "/img", "0", ";", "0", "1"},
         "50",
         "/img",
         ";",
         false,
         false,
         false},
        {"version line alone", {"7"}, "2500", "/old", "|", true, true, true},
    };
    for (const Case& c : cases) {
        Lines lines = kFixed;
        lines.insert(lines.end(), c.later.begin(), c.later.end());
        ConversionSettings s = before;
        applyConfigText(crlf(lines), s);
        EXPECT_EQ(s.maxDocuments, c.maxFiles) << c.label;
        EXPECT_EQ(s.imageFolder, c.imageFolder) << c.label;
        EXPECT_EQ(s.delimiter, c.delimiter) << c.label;
        EXPECT_EQ(s.allowDuplicates, c.allowDupes) << c.label;
        EXPECT_EQ(s.promptWhenFinished, c.prompt) << c.label;
        EXPECT_EQ(s.skipHeaderLine, c.skipHeader) << c.label;
        EXPECT_EQ(s.projectName, "Project Nine") << c.label << ": line 6 is the project name";
    }
}

TEST(ConfigFormat, FixedPartTakesBooleansAndFailsKeepingWhatWasRead)
{
    struct Case
    {
        std::string text;
        int failure;      // 0: none
        bool removeRead;  // line 10 applied, as True
        bool autoSubRead; // line 11 applied, as False
    };
    auto withLine = [](size_t index, std::string value, size_t count = 11) {
        Lines lines(kFixed.begin(), kFixed.begin() + static_cast<long>(count));
        lines[index] = std::move(value);
        return crlf(lines);
    };
    const Case cases[] = {
        {"a\nb\n3\n4\n5\n6\n7\n8\ntext|number\nTrue\nFalse", 0, true, true},
        {"a\rb\r3\r4\r5\r6\r7\r8\rtext|number\rTrue\rFalse\r", 0, true, true},
        {withLine(9, "tRUE"), 0, true, true},
        {withLine(9, " -1 "), 0, true, true},
        {withLine(9, "0.5"), 0, true, true},
        {withLine(10, "FALSE"), 0, true, true},
        {withLine(10, "0.0"), 0, true, true},
        {withLine(9, "Yes"), 13, false, false},
        {withLine(10, ""), 13, true, false},
        {withLine(0, "a", 10), 62, true, false},
        {"", 62, false, false},
    };
    for (const Case& c : cases) {
        ConversionSettings s; // design values: removeProcessedFiles off, autoCreateSubfolders on
        try {
            applyConfigText(c.text, s);
            EXPECT_EQ(c.failure, 0) << c.text;
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.number(), c.failure) << c.text;
        }
        EXPECT_EQ(s.fieldTypes == "text|number", c.text != "") << c.text;
        EXPECT_EQ(s.removeProcessedFiles, c.removeRead) << c.text;
        EXPECT_EQ(s.autoCreateSubfolders, !c.autoSubRead) << c.text;
    }
}

TEST(ConfigFormat, BadInputNeverCrashes)
{
    std::mt19937 random(12345);
    std::vector<std::string> inputs;
    for (int i = 0; i < 200; ++i) {
        std::string garbage(random() % 400, '\0');
        for (char& c : garbage)
            c = static_cast<char>(random() % 256);
        inputs.push_back((i % 2 ? "\xEF\xBB\xBF" : "") + garbage);
    }
    std::string manyLines;
    for (int i = 1; i <= 100000; ++i)
        manyLines += (i == 10 || i == 11 || i == 15 ? "1" : std::to_string(i)) + "\r\n";
    inputs.push_back(std::string(1 << 20, 'x') + "\r\n" + manyLines);
    for (const std::string& input : inputs) {
        ConversionSettings s;
        try {
            applyConfigText(input, s);
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.number() == 13 || failure.number() == 62);
        }
    }

    ConversionSettings s;
    applyConfigText(manyLines, s);
    EXPECT_EQ(s.maxDocuments, "13") << "version 12 reads its lines and ignores the rest";
    EXPECT_EQ(s.skipHeaderLine, true);
    applyConfigText("a\0b\r\n"s + crlf({kFixed.begin() + 1, kFixed.end()}), s);
    EXPECT_EQ(s.indexFiles, "a\0b"s);
    applyConfigText("\xEF\xBB\xBF\xC3\xBC\xFC\r\n" + crlf({kFixed.begin() + 1, kFixed.end()}), s);
    EXPECT_EQ(s.indexFiles, "\xC3\xBC\xC3\xBC") << "a stray byte in a UTF-8 file is read as windows-1252";
}

class ConfigCommands : public BatchTest
{
};

TEST_F(ConfigCommands, SaveAsSaveAndOpenThroughTheDialogs)
{
    const std::string typed = m_dir / "setup"; // no extension: used as typed
    writeFile(typed, "replaced without asking");
    m_settings = distinctSettings();
    m_dialog.choose(typed);
    saveAsCommand(m_ctx);
    m_settings.datagroupNumber = "43";
    saveCommand(m_ctx); // to configFile, without asking
    EXPECT_EQ(m_configFile, typed);
    ASSERT_EQ(m_dialog.requests.size(), 1u);
    EXPECT_EQ(m_dialog.requests[0], (FileDialogRequest{FileDialogRequest::Kind::Save, "",
                                                       "Tollavar Files (*.tvr)|*.tvr|All Files (*.*)|*.*", 1, ""}));

    const ConversionSettings saved = m_settings;
    m_settings = ConversionSettings{};
    m_dialog.choose(typed);
    openCommand(m_ctx);
    EXPECT_EQ(m_settings.pathBase, m_dir.path()) << "relative paths are read beside the file opened";
    m_settings.pathBase = "";
    EXPECT_EQ(m_settings, saved);
    EXPECT_EQ(m_dialog.requests.at(1).initialFileName, typed) << "a full ConfigFile presets the Open dialog";
    EXPECT_TRUE(m_prompter.seen().empty());
}

TEST_F(ConfigCommands, CancelledOpenDoesNothingFromTheIndexingProductsFolder)
{
    m_configFile = "relative.tvr";
    m_services.store.values[{"Quenbrook", "DefaultFolders", "Config"}] = "/srv/configs";
    m_dialog.cancel();
    openCommand(m_ctx);
    EXPECT_EQ(m_dialog.requests.back().initialFileName, "/srv/configs/*.tvr");
    m_services.store.values.clear();
    m_dialog.cancel();
    openCommand(m_ctx);
    EXPECT_EQ(m_dialog.requests.back().initialFileName, "/*.tvr");
    EXPECT_EQ(m_configFile, "relative.tvr");
    EXPECT_EQ(m_settings, ConversionSettings{});
    EXPECT_TRUE(m_prompter.seen().empty());
}

TEST_F(ConfigCommands, OpeningAMissingFileNamesItAndTheNextSaveWritesThere)
{
    const std::string typed = m_dir / "new.tvr";
    m_dialog.choose(typed);
    m_prompter.expect("Tollavar", MessageAnswer::Ok);
    openCommand(m_ctx);
    EXPECT_EQ(onlyMessage(),
              (Message{"Config file does not exist!\n" + typed, "Tollavar", MessageIcon::None, MessageButtons::Ok}));
    EXPECT_EQ(m_settings.pathBase, m_dir.path()) << "the file named decides, though it is not there yet";
    m_settings.pathBase = "";
    EXPECT_EQ(m_settings, ConversionSettings{});
    EXPECT_EQ(m_configFile, typed);
    saveCommand(m_ctx);
    EXPECT_EQ(readFile(typed), serializeConfig(m_settings));

    m_prompter.expect("Tollavar", MessageAnswer::Ok);
    openConfig(m_ctx, m_dir / "other.tvr");
    EXPECT_EQ(m_configFile, typed) << "given a name, OpenConfig leaves ConfigFile alone";
}

TEST_F(ConfigCommands, CancelledSaveReportsAndWritesNothing)
{
    m_configFile = "";
    m_dialog.cancel();
    m_prompter.expect("Error Saving Config File", MessageAnswer::Ok);
    saveCommand(m_ctx);
    EXPECT_EQ(onlyMessage(), (Message{"32755 - Cancel was selected.", "Error Saving Config File", MessageIcon::Error,
                                      MessageButtons::Ok}));
    m_configFile = m_dir / "kept.tvr";
    m_dialog.cancel();
    m_prompter.expect("Error Saving Config File", MessageAnswer::Ok);
    saveAsCommand(m_ctx);
    EXPECT_EQ(m_configFile, m_dir / "kept.tvr");
    EXPECT_EQ(m_dialog.requests.back().initialFileName, m_dir / "kept.tvr");
    EXPECT_FALSE(exists(m_dir / "kept.tvr"));
}

TEST_F(ConfigCommands, FailuresReportTheirNumberAndLoseNothing)
{
    const std::string path = m_dir / "setup.tvr";
    writeFile(path, "previous contents\r\n");
    for (long failAt : {1, 2, 3, 5}) { // create, write, sync, replace
        faults::arm({failAt, ENOSPC, false});
        m_prompter.expect("Error Saving Config File", MessageAnswer::Ok);
        saveConfig(m_ctx, path);
        faults::disarm();
        EXPECT_EQ(readFile(path), "previous contents\r\n") << failAt;
        EXPECT_EQ(m_prompter.seen().back().text.substr(0, 5), "61 - ") << failAt;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.path()), {}), 1) << "no temporary file is left";

    writeFile(path, crlf({kFixed.begin(), kFixed.begin() + 10}));
    m_prompter.expect("Error Opening Config File", MessageAnswer::Ok);
    openConfig(m_ctx, path);
    EXPECT_EQ(m_prompter.seen().back().text.substr(0, 5), "62 - ");
    EXPECT_EQ(m_prompter.seen().back().icon, MessageIcon::Error);
    EXPECT_TRUE(m_settings.removeProcessedFiles) << "lines 1 to 10 stay applied";

    faults::arm({1, EACCES, true});
    m_prompter.expect("Error Opening Config File", MessageAnswer::Ok);
    openConfig(m_ctx, path);
    faults::disarm();
    EXPECT_EQ(m_prompter.seen().back().text, "70 - Permission denied: " + path);
}
