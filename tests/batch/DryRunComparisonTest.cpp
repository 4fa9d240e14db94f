#include "batch/CommandContext.h"
#include "batch/ConfigFile.h"
#include "batch/ConvertCommand.h"
#include "batch/DryRun.h"
#include "batch/DryRunCheck.h"
#include "batch/UnattendedAnswer.h"
#include "engine/ConversionContext.h"
#include "engine/ConversionObserver.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/FailureReport.h"
#include "engine/RunJournal.h"
#include "filetools/Failure.h"
#include "filetools/TextReplace.h"

#include "support/FakeDialog.h"
#include "support/FakeHost.h"
#include "support/FakeServices.h"
#include "support/ShmDir.h"
#include "support/TempDir.h"
#include "ui/MessageTable.h"
#include "ui/ShowingPrompter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iostream>
#include <map>
#include <optional>
#include <pwd.h>
#include <random>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tollavar;
using namespace tollavar::testing;
namespace fs = std::filesystem;

namespace {

// What the unattended run meets: every message, answered as a run with nobody behind it answers.
class UnattendedPrompter : public ShowingPrompter
{
public:
    MessageAnswer show(const Message& message) override
    {
        seen.push_back(message);
        return unattendedAnswer(message);
    }
    bool showWait(const std::string&, const std::function<bool()>&) override { return false; }
    std::vector<Message> seen;
};

struct RunFacts : ConversionObserver
{
    void indexFileEnded(const IndexFileFacts& facts, bool) override
    {
        images += facts.imagesMoved;
        fullTexts += facts.fullTextsMoved;
        documents += facts.documentsAdded;
        lastDocId = facts.lastDocId > 0 ? facts.lastDocId : lastDocId;
    }
    long images = 0;
    long fullTexts = 0;
    long documents = 0;
    long lastDocId = 0;
};

// Every entry below the folder with its kind, bytes and modification time.
std::map<std::string, std::string> snapshot(const std::string& root)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st
        {
        };
        ::lstat(entry.path().c_str(), &st);
        std::string what = std::to_string(st.st_mode) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(entry.path(), std::ios::binary);
            what += in ? ":" + std::string(std::istreambuf_iterator<char>(in), {}) : std::string(":unreadable");
        }
        entries[entry.path().string()] = what;
    }
    return entries;
}

// Images in the datagroup under a numbered name ("1-0001.tif"), as Allow Duplicates gives them.
long numberedImages(const std::string& datagroup)
{
    long count = 0;
    if (!fs::exists(datagroup))
        return 0;
    for (const auto& entry : fs::recursive_directory_iterator(datagroup)) {
        const std::string name = entry.path().filename().string();
        const size_t dash = name.rfind('-');
        count += dash != std::string::npos && name.size() > dash + 5 && name.compare(dash + 5, 4, ".tif") == 0 ? 1 : 0;
    }
    return count;
}

std::string existingXml(long documents)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<REZI_DATAGRP><DGNUMBER>1</DGNUMBER>"
                      "<PROJECT PROJID=\"1\"><NAME>P</NAME><DOCINDEXFIELDS/><DOCUMENTS>";
    for (long id = 1; id <= documents; ++id)
        xml += "<DOCUMENT DOCID=\"" + std::to_string(id) + "\"/>";
    return xml + "</DOCUMENTS></PROJECT></REZI_DATAGRP>";
}

// A scratch folder on a file system in memory where there is one: the run syncs what it writes, and 240
// runs on a disk would take long.
class Scratch
{
public:
    const std::string& path() const { return m_shm.path().empty() ? m_temp.path() : m_shm.path(); }
    std::string operator/(std::string_view relative) const { return path() + "/" + std::string(relative); }

private:
    ShmDir m_shm;
    TempDir m_temp;
};

// What the kernel is to refuse the run: laid on a generated batch once its files are there, as the user
// who runs the check and the run.
struct Restrictions
{
    enum class Kind
    {
        None,
        ReadOnlyDatagroupParent, // out/ (and the datagroup folder in it, if any) mode 0555
        ReadOnlyImageFolder,     // images/B1 mode 0555
        UnreadableIndexFile,     // the first index file mode 0000
        ReadOnlyConfig,          // batch.tvr mode 0444
        StickySharedImages,      // images/B1 mode 1777, every other image another user's
        ReadOnlyMount,           // out/ a tmpfs remounted read-only
        HeldLock,                // another holder has the datagroup's lock
    };
    Kind kind = Kind::None;
};

// One generated batch below `dir`; returns what it holds, for the failure message.
std::string generateBatch(std::mt19937& rng, const Scratch& dir, ConversionSettings& s, std::string& configFile,
                          Restrictions& restrictions)
{
    const auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string story;
    const bool pattern = chance(60);
    s = ConversionSettings{};
    // "a*.csv" selects every .csv file while some file matches it: removing a.csv ends the selection.
    s.indexFiles = dir / (!pattern ? "in/a.csv" : chance(50) ? "in/*.csv" : "in/a*.csv");
    s.xmlFilePath = dir / "out/DATAGRP.XML";
    s.datagroupNumber = "1";
    s.companyId = "EXMP";
    s.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
    s.fieldTypes = "text|text|number|number";
    s.imageFolder = dir / "images";
    s.removeProcessedFiles = chance(50);
    s.allowDuplicates = chance(40);
    s.maxDocuments = chance(25) ? "3" : "1000";
    story += s.indexFiles.substr(dir.path().size() + 1) + (s.removeProcessedFiles ? ", remove" : "") +
             (s.allowDuplicates ? ", duplicates allowed" : "") + ", max " + s.maxDocuments;
    const std::string dg = dir / "out/EXMP0001";
    fs::create_directories(dir / "in");
    fs::create_directories(dir / "images/B1");

    switch (pick(9) % 5) {
    case 0:
        break; // a new datagroup
    case 1:
        fs::create_directories(dg);
        story += ", empty datagroup folder";
        break;
    case 2:
        writeFile(dg + "/DATAGRP.XML", existingXml(2 + pick(3)));
        story += ", datagroup with documents";
        break;
    case 3:
        writeFile(dg + "/DATAGRP.XML", existingXml(4));
        s.maxDocuments = "3";
        story += ", full datagroup";
        break;
    case 4:
        if (chance(50)) {
            writeFile(dg + "/DATAGRP.XML", "<REZI_DATAGRP><DGNUMBER>1</DGNUMBER><DOCUMENTS><DOCUMENT DOCID=\"1\">");
            story += ", malformed DATAGRP.XML";
            break;
        }
        writeFile(dg + "/DATAGRP.XML", "");
        story += ", empty DATAGRP.XML";
        break;
    }
    if (chance(10)) {
        fs::create_directories(dg + "/DATAGRP.SUBMIT");
        story += ", marker cannot be created";
    }
    fs::create_directories(dir / "elsewhere");
    writeFile(dir / "elsewhere/0005.TIF", "II*5");
    fs::create_directory_symlink(dir / "elsewhere", dir / "images/B2");

    int image = 0;
    std::vector<std::string> used;
    const int files = pattern ? 1 + pick(3) : 1;
    // A third of the batches are clean, so that what follows the conversions (removal, marker, advance)
    // is reached as often as the questions.
    const bool clean = chance(33);
    for (int file = 0; file < files; ++file) {
        std::string lines;
        const int count = 1 + pick(5);
        for (int line = 0; line < count; ++line) {
            std::string path;
            const std::string name = "\\B1\\" + std::to_string(++image) + ".TIF";
            const std::string native = dir / ("images/B1/" + std::to_string(image));
            const int what = clean ? 0 : pick(20) - 10;
            switch (what < 0 ? 0 : what) {
            case 0: // an image, sometimes with its full text
                writeFile(native + ".TIF", "II*");
                if (chance(40))
                    writeFile(native + ".txt", "text");
                path = name;
                break;
            case 3:
                path = name; // missing
                story += ", missing image";
                break;
            case 4:
                fs::create_directories(native + ".TIF");
                path = name;
                story += ", folder as image";
                break;
            case 5:
                ::mkfifo((native + ".TIF").c_str(), 0600);
                path = name;
                story += ", pipe as image";
                break;
            case 6:
                if (used.empty()) {
                    writeFile(native + ".TIF", "II*");
                    path = name;
                } else {
                    path = used[static_cast<size_t>(pick(static_cast<int>(used.size())))];
                    story += ", duplicate line";
                }
                break;
            case 7:
                writeFile(native + ".TIF", "II*");
                writeFile(dg + "/B1/" + std::to_string(image) + ".TIF", "older");
                path = name;
                story += ", taken image destination";
                break;
            case 8:
                writeFile(native + ".TIF", "II*");
                writeFile(native + ".txt", "text");
                writeFile(dg + "/B1/" + std::to_string(image) + ".PVFULLTEXT", "older");
                path = name;
                story += ", taken full-text destination";
                break;
            case 9: {
                const char* hostile[] = {"..\\..\\secret.TIF", "C:\\x.TIF", "\\\\server\\share\\x.TIF",
                                         "\\B2\\0005.TIF"};
                path = hostile[pick(4)];
                story += ", hostile path " + path;
                break;
            }
            case 10:
                path = ""; // a line without an image
                break;
            case 1:
            case 2:
                writeFile(native + ".TIF", "II*");
                path = name;
                break;
            }
            if (!path.empty())
                used.push_back(path);
            lines += "Doc" + std::to_string(image) + "," + path + ",1," + std::to_string(image) + "\r\n";
        }
        writeFile(dir / ("in/" + std::string(1, static_cast<char>('a' + file)) + ".csv"), lines);
    }
    if (!pattern && chance(35)) {
        // The same batch scanned twice, each index file beside its images: the second one's images find
        // their places taken by the first one's.
        fs::create_directories(dir / "twin");
        for (const auto& entry : fs::recursive_directory_iterator(dir / "images")) {
            const std::string twin = dir / ("twin" + entry.path().string().substr((dir / "images").size()));
            if (entry.is_symlink())
                fs::create_directory_symlink(fs::read_symlink(entry.path()), twin);
            else if (entry.is_directory())
                fs::create_directories(twin);
            else if (entry.is_fifo())
                ::mkfifo(twin.c_str(), 0600);
            else
                fs::copy_file(entry.path(), twin);
        }
        fs::copy_file(dir / "in/a.csv", dir / "images/a.csv");
        fs::copy_file(dir / "in/a.csv", dir / "twin/a.csv");
        s.indexFiles = (dir / "images/a.csv") + "|" + (dir / "twin/a.csv");
        s.imageFolder = "";
        story += ", the batch twice, each beside its images";
    }
    configFile = dir / "batch.tvr";
    writeFile(configFile, serializeConfig(s));
    if (chance(40)) {
        restrictions.kind = static_cast<Restrictions::Kind>(1 + pick(7));
        const char* names[] = {"",
                               "read-only datagroup parent",
                               "read-only image subfolder",
                               "unreadable index file",
                               "read-only configuration",
                               "sticky shared image folder with another user's images",
                               "datagroup on a read-only mount",
                               "datagroup lock held elsewhere"};
        story += std::string(", ") + names[static_cast<int>(restrictions.kind)];
    }

    if (chance(20)) {
        // A conversion of a.csv killed, or failed and told so, with its first image moved.
        fs::create_directories(dg);
        writeFile(dir / "images/J/journalled.TIF", "II*");
        // Recovery acts only for an index file the configuration selects.
        const bool foreign = chance(30);
        if (foreign) {
            writeFile(dir / "other/a.csv", "Doc,\\J\\journalled.TIF,1,1\r\n");
            story += ", journal of a file not selected";
        }
        {
            RunJournal journal(dg, configFile, s.removeProcessedFiles);
            journal.begin(dir / (foreign ? "other/a.csv" : "in/a.csv"), dg + "/DATAGRP.XML", dir / "images",
                          fs::exists(dg + "/DATAGRP.XML") ? readFile(dg + "/DATAGRP.XML") : "");
            journal.beforeMove(dir / "images/J/journalled.TIF", dg + "/J/journalled.TIF");
            journal.makeDurable();
            fs::create_directories(dg + "/J");
            fs::rename(dir / "images/J/journalled.TIF", dg + "/J/journalled.TIF");
            if (chance(40)) {
                fs::remove(dir / "images/J"); // recovery makes it again to put the image back
                story += ", its source folder gone";
            }
            if (chance(50)) {
                journal.markFailed();
                story += ", journal of a reported failure";
            } else {
                story += ", journal of a kill";
            }
        }
    }
    return story;
}

// The account the unprivileged cases run as.
struct Nobody
{
    uid_t uid = 65534;
    gid_t gid = 65534;
};

Nobody nobody()
{
    Nobody who;
    if (const passwd* entry = ::getpwnam("nobody")) {
        who.uid = entry->pw_uid;
        who.gid = entry->pw_gid;
    }
    return who;
}

void changeOwnerBelow(const std::string& root, uid_t uid, gid_t gid)
{
    ::lchown(root.c_str(), uid, gid);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        ::lchown(entry.path().c_str(), uid, gid);
}

// Why a read-only mount cannot be made here is told once per test program.
bool g_toldNoMount = false;

// Lays the restriction on the batch below `dir` and lifts it again when it goes, so that the folder can
// be removed. `owner` is the account the batch belongs to (the one that runs it).
class Restricted
{
public:
    Restricted(const Scratch& dir, Restrictions restrictions, const Nobody* owner)
        : m_dir(dir.path()), m_kind(restrictions.kind)
    {
        using Kind = Restrictions::Kind;
        const std::string dg = dir / "out/EXMP0001";
        if (m_kind == Kind::ReadOnlyMount && !mountReadOnly(dir, owner))
            m_kind = Kind::None;
        if (m_kind == Kind::ReadOnlyDatagroupParent)
            fs::create_directories(dir / "out");
        if (m_kind == Kind::HeldLock) {
            fs::create_directories(dg);
            writeFile(dg + "/.DATAGRP.LOCK", "");
            ::chmod((dg + "/.DATAGRP.LOCK").c_str(), 0666);
        }
        if (owner && m_kind != Kind::ReadOnlyMount)
            changeOwnerBelow(m_dir, owner->uid, owner->gid);
        switch (m_kind) {
        case Kind::None:
        case Kind::ReadOnlyMount:
            break;
        case Kind::ReadOnlyDatagroupParent:
            if (fs::exists(dg))
                ::chmod(dg.c_str(), 0555);
            ::chmod((dir / "out").c_str(), 0555);
            break;
        case Kind::ReadOnlyImageFolder:
            ::chmod((dir / "images/B1").c_str(), 0555);
            break;
        case Kind::UnreadableIndexFile:
            for (const char* first : {"in/a.csv", "images/a.csv"})
                if (fs::exists(dir / first))
                    ::chmod((dir / first).c_str(), 0000);
            break;
        case Kind::ReadOnlyConfig:
            ::chmod((dir / "batch.tvr").c_str(), 0444);
            break;
        case Kind::StickySharedImages: {
            // A folder of its own (root's) that everybody may write in. Only the super-user can give files
            // away; without it the folder is merely shared.
            if (::geteuid() == 0)
                ::lchown((dir / "images/B1").c_str(), 0, 0);
            ::chmod((dir / "images/B1").c_str(), 01777);
            int n = 0;
            for (const auto& entry : fs::directory_iterator(dir / "images/B1"))
                if (entry.is_regular_file() && n++ % 2 == 0 && ::geteuid() == 0)
                    ::lchown(entry.path().c_str(), 1, 1);
            break;
        }
        case Kind::HeldLock:
            m_lock = ::open((dg + "/.DATAGRP.LOCK").c_str(), O_RDONLY | O_CLOEXEC);
            ::flock(m_lock, LOCK_EX | LOCK_NB);
            break;
        }
    }
    ~Restricted()
    {
        if (m_lock >= 0)
            ::close(m_lock);
        if (m_mounted)
            ::umount2(m_mountPoint.c_str(), MNT_DETACH);
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(m_dir, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error))
            if (!it->is_symlink())
                ::chmod(it->path().c_str(), it->is_directory() ? 0755 : 0644);
        ::chmod(m_dir.c_str(), 0755);
    }
    Restricted(const Restricted&) = delete;
    Restricted& operator=(const Restricted&) = delete;

private:
    bool mountReadOnly(const Scratch& dir, const Nobody* owner)
    {
        m_mountPoint = dir / "out";
        const std::string held = dir / "out.before";
        fs::create_directories(m_mountPoint);
        fs::rename(m_mountPoint, held);
        fs::create_directories(m_mountPoint);
        if (::mount("tmpfs", m_mountPoint.c_str(), "tmpfs", 0, "size=4m,mode=0755") != 0) {
            if (!g_toldNoMount)
                std::cout << "read-only mount cases skipped: cannot mount a tmpfs here: " << std::strerror(errno)
                          << std::endl;
            g_toldNoMount = true;
            fs::remove(m_mountPoint);
            fs::rename(held, m_mountPoint);
            return false;
        }
        m_mounted = true;
        fs::copy(held, m_mountPoint, fs::copy_options::recursive);
        fs::remove_all(held);
        if (owner)
            changeOwnerBelow(m_dir, owner->uid, owner->gid);
        ::mount("tmpfs", m_mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
        return true;
    }

    std::string m_dir;
    Restrictions::Kind m_kind;
    std::string m_mountPoint;
    bool m_mounted = false;
    int m_lock = -1;
};

// Runs `work` as nobody in a child process when asked, and hands back what it found.
std::vector<std::string> runAs(bool unprivileged, const std::function<std::vector<std::string>()>& work)
{
    if (!unprivileged)
        return work();
    int channel[2];
    if (::pipe(channel) != 0)
        return {"no pipe to the unprivileged child"};
    const Nobody who = nobody();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        std::string out;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(who.gid, who.gid, who.gid) != 0 ||
            ::setresuid(who.uid, who.uid, who.uid) != 0) {
            out = std::string("could not become nobody: ") + std::strerror(errno);
        } else {
            for (const std::string& found : work())
                out += found + '\0';
        }
        for (size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(channel[1], out.data() + done, out.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string in;
    char buffer[4096];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        in.append(buffer, static_cast<size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::vector<std::string> found;
    for (size_t start = 0; start < in.size();) {
        const size_t end = in.find('\0', start);
        found.push_back(in.substr(start, end - start));
        start = end + 1;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        found.push_back("the unprivileged child ended with status " + std::to_string(status));
    return found;
}

// The unattended run's messages, with where each index file began and ended.
struct RunRoad
{
    std::vector<Message> seen;
    std::vector<size_t> boundaries;
    std::vector<Message> skippedLines; // past its stop, the lines the run going on left out
};

// A run that answers so as to go on, and leaves out a line that fails, as the check does past its stop.
class GoingOnPrompter : public ShowingPrompter
{
public:
    MessageAnswer show(const Message& message) override
    {
        seen.push_back(message);
        return goOnAnswer(message);
    }
    bool showWait(const std::string&, const std::function<bool()>&) override { return false; }
    std::vector<Message> seen;
};

class LineSkipper : public LineFailureSkipper
{
public:
    bool skipsLine(const Failure& failure, RunStage stage) override
    {
        skipped.push_back(messageTable().failure(FailureReport{FailedWork::ConversionRun, failure, stage}));
        return true;
    }
    std::vector<Message> skipped;
};

bool blocking(const Message& message)
{
    return isQuestion(message) || message.icon == MessageIcon::Error || message.kind == MessageKind::CommandFailure;
}

bool placementQuestion(const Message& message)
{
    return message.kind == MessageKind::SourceMissing || message.kind == MessageKind::ImageExists;
}

std::string said(const Message& message)
{
    return message.caption + ": " + message.text;
}

// The check runs the Convert command dry on `dir`, then the real unattended command runs on the same
// files, and a run that goes on past every stop on `twin` (the same batch, generated alike): the check must
// have met exactly the run's messages, stopped where it stops, moved what it moves, changed nothing,
// agree on the exit status, and list past the stop what the run going on meets. Returns each disagreement.
std::vector<std::string> compareWithRun(const Scratch& dir, ConversionSettings settings, std::string configFile,
                                        const Scratch& twin, ConversionSettings twinSettings, std::string twinConfig)
{
    std::vector<std::string> wrong;
    const auto expectEqual = [&wrong](const auto& checked, const auto& run, const std::string& what) {
        if (!(checked == run))
            wrong.push_back(what + ": the check has " + ::testing::PrintToString(checked) + ", the run " +
                            ::testing::PrintToString(run));
    };
    FakeServices services;
    FakeHost host;
    FakeDialog dialog;
    UnattendedPrompter unused;

    const auto before = snapshot(dir.path());
    const long numberedBefore = numberedImages(dir / "out/EXMP0001");
    RunFlags checkFlags;
    CommandContext checkCtx{settings, configFile, checkFlags, services.fileTools, unused, host, dialog, messageTable()};
    const CheckReport report = checkBatch(checkCtx);
    if (snapshot(dir.path()) != before)
        return {"the check changed the files"};
    if (!unused.seen.empty())
        wrong.push_back("the check showed a message");

    UnattendedPrompter prompter;
    RunFlags flags;
    RunFacts moves;
    CommandContext ctx{settings, configFile, flags, services.fileTools, prompter, host, dialog, messageTable()};
    ctx.progress = &moves;
    std::vector<size_t> boundaries;
    const ConvertOutcome outcome =
        convertCommand(ctx, [&](ConversionContext& conversion, const std::string& file, const std::string& xml,
                                const std::string& root, const std::string& document) {
            boundaries.push_back(prompter.seen.size());
            const bool converted = convertIndexFile(conversion, file, xml, root, document);
            boundaries.push_back(prompter.seen.size());
            return converted;
        });
    bool asked = false;
    std::vector<std::string> run;
    for (const Message& message : prompter.seen) {
        asked = asked || blocking(message);
        run.push_back(said(message));
    }
    std::vector<std::string> checked;
    for (const CheckMessage& message : report.messages)
        checked.push_back(message.caption + ": " + message.text);
    expectEqual(checked, run, "messages");
    expectEqual(report.imagesMoved, moves.images, "images moved");
    long numbered = 0;
    long documents = 0;
    for (const IndexFileCheck& file : report.files) {
        numbered += settings.allowDuplicates ? file[CheckKind::TakenDestination].count : 0;
        documents += file.converted ? file.documents : 0;
    }
    // A file that fails puts its numbered images back with the rest: only a run that converted every file
    // keeps them.
    if (outcome.ranToEnd && outcome.allConverted)
        expectEqual(numbered, numberedImages(dir / "out/EXMP0001") - numberedBefore, "images given a numbered name");
    expectEqual(report.fullTextsMoved, moves.fullTexts, "full-text files moved");
    expectEqual(documents, moves.documents, "documents of the converted index files");
    if (moves.lastDocId > 0)
        expectEqual(report.lastDocIdAfter, moves.lastDocId, "last DOCID");
    const bool runExitsZero = outcome.ranToEnd && outcome.allConverted && !outcome.refused && !outcome.configSaveFailed;
    expectEqual(report.exitStatus() == 0, runExitsZero && !asked, "exit status 0");

    // The stop: the first question or error of the stretch (an index file, or the command between them)
    // in which the run ended.
    std::string runStop;
    // A configuration that cannot be saved is told, and the command goes on.
    const auto firstBlocking = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (blocking(prompter.seen[i]) && prompter.seen[i].kind != MessageKind::ConfigSaveFailure)
                return said(prompter.seen[i]);
        return std::string();
    };
    if (!outcome.ranToEnd) {
        // Ended by the command itself, or by the last index file it began.
        runStop = firstBlocking(boundaries.empty() ? 0 : boundaries.back(), prompter.seen.size());
        if (runStop.empty() && boundaries.size() >= 2)
            runStop = firstBlocking(boundaries[boundaries.size() - 2], boundaries.back());
    }
    expectEqual(report.stop ? report.stop->caption + ": " + report.stop->text : std::string(), runStop, "the stop");

    // Past the stop: the images the run going on finds missing or their places taken, in its order.
    GoingOnPrompter goingOn;
    LineSkipper skipper;
    RunFlags twinFlags;
    CommandContext twinCtx{twinSettings, twinConfig, twinFlags, services.fileTools,
                           goingOn,      host,       dialog,    messageTable()};
    convertCommand(twinCtx, [&](ConversionContext& conversion, const std::string& file, const std::string& xml,
                                const std::string& root, const std::string& document) {
        conversion.lineFailures = &skipper;
        const bool converted = convertIndexFile(conversion, file, xml, root, document);
        conversion.flags.batchCanceled = false;
        return converted;
    });
    // Comparable where the run going on meets questions only: a failure leaves its journal, which stops
    // the real run's next index file but not the check's.
    const auto first = std::find_if(goingOn.seen.begin(), goingOn.seen.end(), blocking);
    const bool questionsOnly = std::all_of(goingOn.seen.begin(), goingOn.seen.end(), [](const Message& message) {
        return !blocking(message) || isQuestion(message);
    });
    if (report.stop && skipper.skipped.empty() && first != goingOn.seen.end() && questionsOnly) {
        std::vector<std::string> pastRun;
        for (auto it = std::next(first); it != goingOn.seen.end(); ++it)
            if (placementQuestion(*it))
                pastRun.push_back(replaceAll(said(*it), twin.path(), dir.path()));
        std::vector<std::string> pastCheck;
        for (const IndexFileCheck& file : report.files)
            for (const CheckKind kind : {CheckKind::MissingImage, CheckKind::TakenDestination})
                for (const CheckExample& example : file.past(kind).examples)
                    pastCheck.push_back(example.caption + ": " + example.text);
        std::sort(pastRun.begin(), pastRun.end());
        std::sort(pastCheck.begin(), pastCheck.end());
        if (pastRun.size() <= 20)
            expectEqual(pastCheck, pastRun, "images missing or taken past the stop");
    }
    return wrong;
}

std::string joinedLines(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    return all;
}

// A 300-line batch, images `missing` absent; the check names every one and the run's stop.
std::vector<std::string> checkManyMissing(const Scratch& dir)
{
    ConversionSettings s;
    s.indexFiles = dir / "in/a.csv";
    s.xmlFilePath = dir / "out/DATAGRP.XML";
    s.datagroupNumber = "1";
    s.companyId = "EXMP";
    s.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
    s.fieldTypes = "text|text|number|number";
    s.imageFolder = dir / "images";
    s.maxDocuments = "1000";
    std::string lines;
    for (int i = 1; i <= 300; ++i) {
        if (i != 17 && i != 250)
            writeFile(dir / ("images/B1/" + std::to_string(i) + ".TIF"), "II*");
        lines += "Doc" + std::to_string(i) + ",\\B1\\" + std::to_string(i) + ".TIF,1," + std::to_string(i) + "\r\n";
    }
    writeFile(dir / "in/a.csv", lines);
    std::string configFile = dir / "batch.tvr";
    writeFile(configFile, serializeConfig(s));
    FakeServices services;
    FakeHost host;
    FakeDialog dialog;
    UnattendedPrompter unused;
    RunFlags flags;
    CommandContext ctx{s, configFile, flags, services.fileTools, unused, host, dialog, messageTable()};
    const CheckReport report = checkBatch(ctx);
    std::vector<std::string> wrong;
    if (report.exitStatus() != 1 || !report.stop || report.stop->line != 17 || report.files.size() != 1)
        return {"a batch missing images 17 and 250 does not stop at line 17"};
    const IndexFileCheck& file = report.files.front();
    if (file.lines != 300 || file.documents != 298)
        wrong.push_back("lines and documents do not count the whole file: " + std::to_string(file.lines) + ", " +
                        std::to_string(file.documents));
    if (file[CheckKind::MissingImage].count != 1 || file.past(CheckKind::MissingImage).count != 1 ||
        file.past(CheckKind::MissingImage).examples.front().line != 250)
        wrong.push_back("image 250 is not found past the stop");
    return wrong;
}

// A datagroup folder the account may not write: the check says Permission denied, as the run does.
std::vector<std::string> checkReadOnlyDatagroup(const Scratch& dir, bool asNobody)
{
    ConversionSettings s = ConversionSettings{};
    s.indexFiles = dir / "in/a.csv";
    s.xmlFilePath = dir / "out/DATAGRP.XML";
    s.datagroupNumber = "1";
    s.companyId = "EXMP";
    s.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
    s.fieldTypes = "text|text|number|number";
    s.imageFolder = dir / "images";
    s.maxDocuments = "1000";
    writeFile(dir / "images/B1/1.TIF", "II*");
    writeFile(dir / "in/a.csv", "Doc,\\B1\\1.TIF,1,1\r\n");
    fs::create_directories(dir / "out/EXMP0001");
    std::string configFile = dir / "batch.tvr";
    writeFile(configFile, serializeConfig(s));
    if (asNobody)
        changeOwnerBelow(dir.path(), nobody().uid, nobody().gid);
    ::chmod((dir / "out/EXMP0001").c_str(), 0555);
    return runAs(asNobody, [&] {
        FakeServices services;
        FakeHost host;
        FakeDialog dialog;
        UnattendedPrompter unused;
        RunFlags flags;
        CommandContext ctx{s, configFile, flags, services.fileTools, unused, host, dialog, messageTable()};
        const CheckReport report = checkBatch(ctx);
        if (report.exitStatus() == 1 && report.stop && report.stop->text.find("Permission denied") != std::string::npos)
            return std::vector<std::string>{};
        return std::vector<std::string>{"a read-only datagroup folder passes the check: " +
                                        (report.stop ? report.stop->text : std::string("no stop"))};
    });
}

TEST(DryRunComparison, TheCheckMeetsWhatTheUnattendedRunMeets)
{
    const bool root = ::geteuid() == 0;
    {
        Scratch dir;
        EXPECT_EQ(joinedLines(checkManyMissing(dir)), "");
    }
    {
        Scratch dir;
        const std::vector<std::string> wrong = checkReadOnlyDatagroup(dir, root);
        EXPECT_EQ(joinedLines(wrong), "");
        ::chmod((dir / "out/EXMP0001").c_str(), 0755);
    }

    const char* fixed = std::getenv("TOLLAVAR_CHECK_SEED");
    const unsigned first = fixed ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10)) : 20261207u;
    const int cases = fixed ? 1 : 240;
    for (int i = 0; i < cases; ++i) {
        const unsigned seed = first + static_cast<unsigned>(i);
        std::mt19937 rng(seed);
        std::mt19937 twinRng(seed);
        Scratch dir;
        Scratch twin;
        ConversionSettings settings;
        ConversionSettings twinSettings;
        std::string configFile;
        std::string twinConfig;
        Restrictions restrictions;
        Restrictions twinRestrictions;
        const std::string story = generateBatch(rng, dir, settings, configFile, restrictions);
        generateBatch(twinRng, twin, twinSettings, twinConfig, twinRestrictions);
        // As root, every fourth case runs as nobody, and every case that takes a permission away: root
        // passes them all.
        const bool unprivileged = root && (seed % 4 == 0 || restrictions.kind != Restrictions::Kind::None);
        SCOPED_TRACE("seed " + std::to_string(seed) + " (TOLLAVAR_CHECK_SEED=" + std::to_string(seed) + "): " + story +
                     (unprivileged ? ", as nobody" : ""));
        const Nobody account = nobody();
        const Nobody* owner = unprivileged ? &account : nullptr;
        const Restricted restricted(dir, restrictions, owner);
        const Restricted twinRestricted(twin, twinRestrictions, owner);
        const std::vector<std::string> wrong = runAs(
            unprivileged, [&] { return compareWithRun(dir, settings, configFile, twin, twinSettings, twinConfig); });
        EXPECT_EQ(joinedLines(wrong), "");
        if (::testing::Test::HasFailure())
            return; // one failing case says enough, with its seed
    }
}

} // namespace
