// Large inputs, each run in a child process of its own so that its peak memory is its own: peak
// memory per document at 3,000 and 30,000 lines, 10,000 documents from 100 index files against
// one, one line of 100 MB, many index files in one folder selected by a wildcard
// item (the Convert command), and a datagroup at 32,767 documents extended by one line and then by one
// more. Prints the wall time, the peak resident memory and what the run reported for every case.
//
//   large_inputs [work-folder] [case-name-part] [index-file-count]
//
// The work folder decides what a sync costs: on tmpfs the figures show the program's own work, on a
// disk they add the fsyncs of every atomic save.

#include "ArchiveFigures.h"
#include "BenchServices.h"
#include "QuietRun.h"
#include "batch/CommandContext.h"
#include "batch/ConfigFile.h"
#include "batch/ConvertCommand.h"
#include "batch/FileDialog.h"
#include "engine/ConversionHost.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/Prompter.h"
#include "filetools/DocumentOpener.h"
#include "filetools/FileTools.h"
#include "filetools/SettingsStore.h"
#include "ui/MessageTable.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tollavar;
namespace fs = std::filesystem;

namespace {

using bench::NoOpener;
using bench::NoStore;

// Everything a conversion or a command needs, without a window.
struct Services
{
    NoStore store;
    NoOpener opener;
    FileTools fileTools{store, opener};
    // Every message on standard output, with the answer that changes least.
    bench::BenchPrompter prompter{bench::BenchPrompter::OnMessage::Report, stdout};
    bench::QuietHost host;
    bench::NoDialog dialog;
    RunFlags flags;
    std::string configFile;
    ConversionSettings settings;

    Services()
    {
        settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
        settings.fieldTypes = "text|text|number|number";
        settings.maxDocuments = "100000000";
    }
    bool convert(const std::string& index, const std::string& xml)
    {
        ConversionContext context{settings, flags, fileTools, prompter, host};
        return convertIndexFile(context, index, xml, "REZI_DATAGRP", "DOCUMENT");
    }
    CommandContext command()
    {
        return {settings, configFile, flags, fileTools, prompter, host, dialog, messageTable()};
    }
};

// Writes `lines` index lines "Name n,\B1\n.TIF,1,n" without holding the file in memory.
void writeLines(const std::string& path, long first, long lines)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    std::string chunk;
    for (long n = first; n < first + lines; ++n) {
        chunk += "Name " + std::to_string(n) + ",\\B1\\" + std::to_string(n) + ".TIF,1," + std::to_string(n) + "\r\n";
        if (chunk.size() > (1 << 20)) {
            out << chunk;
            chunk.clear();
        }
    }
    out << chunk;
}

std::string sizeText(const std::string& path)
{
    std::error_code error;
    const auto bytes = fs::file_size(path, error);
    return error ? "absent" : std::to_string(bytes) + " bytes";
}

// Runs `body` in a child; the parent waits and prints the child's wall time and peak memory.
void measured(const std::string& name, const std::function<void()>& body)
{
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string end = WIFSIGNALED(status) ? "CRASHED with signal " + std::to_string(WTERMSIG(status))
                                                : "exit " + std::to_string(WEXITSTATUS(status));
    const auto cpu = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    std::printf("  %-36s %7.2f s (user %.2f, sys %.2f)  peak %7.1f MB  %s\n", name.c_str(), wall, cpu(usage.ru_utime),
                cpu(usage.ru_stime), usage.ru_maxrss / 1024.0, end.c_str());
}

// Preparation runs in a child too, so that the parent stays small and unmeasured.
void prepared(const std::function<void()>& body)
{
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
}

void hugeLine(const std::string& root)
{
    const std::string folder = root + "/hugeline/DEFC0001";
    prepared([&] {
        fs::create_directories(folder);
        std::ofstream out(folder + "/batch.csv", std::ios::binary);
        out << "Name,\\B1\\1.TIF,1,";
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 100; ++i)
            out << block;
        out << "\r\n";
    });
    std::printf("one line of 100 MB (%s)\n", sizeText(folder + "/batch.csv").c_str());
    measured("convert into a new datagroup", [&] {
        Services s;
        const bool ok = s.convert(folder + "/batch.csv", folder + "/DATAGRP.XML");
        std::printf("    result %s, DATAGRP.XML %s\n", ok ? "True" : "False",
                    sizeText(folder + "/DATAGRP.XML").c_str());
    });
}

// Many index files in one folder, selected by "*.idx" and converted by the Convert command, which
// saves the configuration after each. `linesEach` 0 gives blank files, so that the datagroup stays
// small and the figures are the command's own; 1 lets the datagroup grow by a document per file.
void manyFiles(const std::string& root, long count, int linesEach)
{
    const std::string name = "files-" + std::to_string(count) + "-" + std::to_string(linesEach);
    const std::string in = root + "/" + name + "/in";
    prepared([&] {
        fs::create_directories(in);
        char file[32];
        for (long n = 1; n <= count; ++n) {
            std::snprintf(file, sizeof file, "/f%06ld.idx", n);
            std::ofstream out(in + file, std::ios::binary);
            if (linesEach)
                out << "Name " << n << ",,1," << n << "\r\n";
            else
                out << "\r\n";
        }
    });
    std::printf("%ld index files of %s in one folder, wildcard item\n", count, linesEach ? "one line" : "a blank line");
    measured("Convert command", [&] {
        Services s;
        s.settings.indexFiles = in + "/*.idx";
        s.settings.xmlFilePath = root + "/" + name + "/out/DATAGRP.XML";
        s.settings.companyId = "DEFC";
        s.configFile = root + "/" + name + "/setup.tvr";
        CommandContext ctx = s.command();
        const ConvertOutcome outcome = convertCommand(ctx);
        std::printf("    ran to end %s, all converted %s, DATAGRP.XML %s\n", outcome.ranToEnd ? "yes" : "no",
                    outcome.allConverted ? "yes" : "no",
                    sizeText(root + "/" + name + "/out/DEFC0001/DATAGRP.XML").c_str());
    });
}

void fullDatagroup(const std::string& root)
{
    const std::string folder = root + "/full/DEFC0001";
    prepared([&] {
        writeLines(folder + "/fill.csv", 1, 32767);
        Services s;
        if (!s.convert(folder + "/fill.csv", folder + "/DATAGRP.XML"))
            std::printf("    preparing the datagroup failed\n");
        writeLines(folder + "/one.csv", 32768, 1);
        writeLines(folder + "/two.csv", 32769, 1);
    });
    std::printf("datagroup of 32,767 documents (%s)\n", sizeText(folder + "/DATAGRP.XML").c_str());
    for (const char* index : {"one.csv", "two.csv"}) {
        measured(std::string("extend by one line (") + index + ")", [&] {
            Services s;
            const bool ok = s.convert(folder + "/" + index, folder + "/DATAGRP.XML");
            std::printf("    result %s, DATAGRP.XML %s\n", ok ? "True" : "False",
                        sizeText(folder + "/DATAGRP.XML").c_str());
        });
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    const std::string only = argc > 2 ? argv[2] : "";
    const long fileCount = argc > 3 ? std::atol(argv[3]) : 2000;
    std::string root = base + "/tollavar-large-XXXXXX";
    if (!::mkdtemp(root.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::vector<std::pair<std::string, std::function<void()>>> cases{
        {"lines", [&] { bench::printMemoryPerDocument(root, 3000, 30000); }},
        {"ratio", [&] { bench::printManyFilesRatio(root, 10000, 100); }},
        {"hugeline", [&] { hugeLine(root); }},
        {"files",
         [&] {
             manyFiles(root, fileCount, 0);
             manyFiles(root, fileCount / 20, 1);
             manyFiles(root, fileCount / 10, 1);
         }},
        {"full", [&] { fullDatagroup(root); }},
    };
    for (const auto& [name, run] : cases) {
        if (only.empty() || name.find(only) != std::string::npos)
            run();
        for (const auto& entry : fs::directory_iterator(root))
            fs::remove_all(entry.path());
    }
    fs::remove_all(root);
    return 0;
}
