#include "filetools/LineLog.h"

#include "filetools/Failure.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

std::vector<std::string> linesOf(const std::string& path)
{
    std::vector<std::string> lines;
    if (!exists(path))
        return lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

// Several processes append long lines to one log at once, small enough a limit that they rotate it
// many times meanwhile: every line arrives whole, exactly once, in one of the files kept.
TEST(LineLog, ConcurrentWritersNeitherInterleaveNorLoseLinesAcrossRotations)
{
    TempDir dir;
    const std::string log = dir / "state/runs.jsonl"; // the folder does not exist yet
    constexpr int kWriters = 4;
    constexpr int kLines = 150;
    const files::LineLogRotation rotation{64 * 1024, 100};
    std::vector<pid_t> writers;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                for (int i = 0; i < kLines; ++i) {
                    // Long enough that a write split in two would show.
                    const std::string body(2000 + 37 * i % 1500, static_cast<char>('a' + writer));
                    files::appendWholeLine(log, std::to_string(writer) + ":" + std::to_string(i) + ":" + body + ":end",
                                           rotation);
                }
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        writers.push_back(pid);
    }
    for (const pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::set<std::string> seen;
    int files = 0;
    for (int number = 0; number <= rotation.keep; ++number) {
        const std::string path = number == 0 ? log : files::rotatedLogPath(log, number);
        if (!exists(path))
            continue;
        ++files;
        EXPECT_LE(readFile(path).size(), rotation.maxBytes) << path;
        for (const std::string& line : linesOf(path)) {
            const size_t first = line.find(':');
            const size_t second = line.find(':', first + 1);
            ASSERT_NE(second, std::string::npos) << line.substr(0, 80);
            const std::string body = line.substr(second + 1, line.size() - second - 5);
            const char mark = static_cast<char>('a' + std::stoi(line.substr(0, first)));
            EXPECT_TRUE(line.ends_with(":end")) << line.substr(0, 80);
            EXPECT_EQ(body.find_first_not_of(mark), std::string::npos) << "interleaved: " << line.substr(0, 80);
            EXPECT_TRUE(seen.insert(line.substr(0, second)).second) << "twice: " << line.substr(0, second);
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kLines));
    EXPECT_GT(files, 10) << "the log was never rotated";
}

// Rotation keeps the newest files only, and a log that cannot be written is a failure, not a crash.
TEST(LineLog, RotationKeepsTheNewestFilesAndAnUnwritableLogFails)
{
    TempDir dir;
    const std::string log = dir / "runs.jsonl";
    const files::LineLogRotation rotation{100, 2};
    for (int i = 0; i < 5; ++i)
        files::appendWholeLine(log, std::string(60, static_cast<char>('0' + i)), rotation);
    EXPECT_EQ(linesOf(log), std::vector<std::string>{std::string(60, '4')});
    EXPECT_EQ(linesOf(files::rotatedLogPath(log, 1)), std::vector<std::string>{std::string(60, '3')});
    EXPECT_EQ(linesOf(files::rotatedLogPath(log, 2)), std::vector<std::string>{std::string(60, '2')});
    EXPECT_FALSE(exists(files::rotatedLogPath(log, 3)));

    writeFile(dir / "plain", "a file, not a folder");
    EXPECT_THROW(files::appendWholeLine(dir / "plain/runs.jsonl", "x"), Failure);
    EXPECT_EQ(files::contentFingerprint("abc"), "78af5f94892f3950"); // as xxhsum -H3 prints it
}

// A log's folder may be reached through a link only where nobody else could have planted it; a pipe at
// the log's own name is refused at once instead of waiting for a reader.
TEST(LineLog, FollowsOnlyLinksNobodyElseCouldHavePlanted)
{
    TempDir dir; // only its owner may write it
    std::filesystem::create_directories(dir / "real");
    std::filesystem::create_directory_symlink(dir / "real", dir / "state");
    files::appendWholeLine(dir / "state/tollavar/runs.jsonl", "kept");
    EXPECT_EQ(linesOf(dir / "real/tollavar/runs.jsonl"), std::vector<std::string>{"kept"});

    std::filesystem::create_directories(dir / "shared");
    std::filesystem::permissions(dir / "shared", std::filesystem::perms::all);
    std::filesystem::create_directories(dir / "elsewhere");
    std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "shared/logs");
    EXPECT_THROW(files::appendWholeLine(dir / "shared/logs/runs.jsonl", "planted"), Failure);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "elsewhere"));

    ASSERT_EQ(::mkfifo((dir / "shared/pipe.jsonl").c_str(), 0666), 0);
    EXPECT_THROW(files::appendWholeLine(dir / "shared/pipe.jsonl", "blocked"), Failure);
}
