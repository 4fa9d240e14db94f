#pragma once

// The figures of an archive-sized batch that both end-to-end benchmarks print: peak memory per
// document of a conversion (each measured in a child process of its own), and what converting the same
// documents from many index files costs against one, beside what the bare work of each costs.

#include "BenchServices.h"
#include "QuietRun.h"
#include "batch/CommandContext.h"
#include "batch/ConvertCommand.h"
#include "batch/FileDialog.h"
#include "engine/ConversionHost.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/Prompter.h"
#include "ui/MessageTable.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tollavar::bench {

struct Figures
{
    double seconds = 0;
    double peakKiB = 0;
    bool ok = false;
};

// Runs `body` in a child; its wall time, its own peak resident memory and whether it succeeded.
inline Figures inChild(const std::function<bool()>& body)
{
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool ok = body();
        std::fflush(stdout);
        std::_Exit(ok ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Figures figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.peakKiB = static_cast<double>(usage.ru_maxrss);
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

// Index lines "Name n,<image>,1,n" for documents first .. first + count - 1, written in chunks.
inline void writeIndexLines(const std::string& path, long first, long count, bool withImage)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    std::string chunk;
    for (long n = first; n < first + count; ++n) {
        chunk += "Name " + std::to_string(n) + "," + (withImage ? "\\B1\\" + std::to_string(n) + ".TIF" : "") + ",1," +
                 std::to_string(n) + "\r\n";
        if (chunk.size() > (1 << 20)) {
            out << chunk;
            chunk.clear();
        }
    }
    out << chunk;
}

// One image per document, numbered 1 .. count, under folder/B1 as the index lines name them.
inline void writeImages(const std::string& folder, long count)
{
    std::filesystem::create_directories(folder + "/B1");
    for (long n = 1; n <= count; ++n)
        std::ofstream(folder + "/B1/" + std::to_string(n) + ".TIF", std::ios::binary) << "II*image";
}

// The fields the index lines above carry, and room for every document in one datagroup.
inline ConversionSettings archiveSettings()
{
    ConversionSettings settings;
    settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
    settings.fieldTypes = "text|text|number|number";
    settings.maxDocuments = "100000000";
    return settings;
}

// Peak memory of converting `lines` lines into a new datagroup. The index file lies in the datagroup
// folder, so nothing is moved: the figure is the reading, the document and the save.
inline Figures conversionMemory(const std::string& work, long lines)
{
    const std::string folder = work + "/memory-" + std::to_string(lines) + "/DEFC0001";
    writeIndexLines(folder + "/batch.csv", 1, lines, true);
    const Figures figures = inChild([&] {
        QuietServices services;
        ConversionSettings settings = archiveSettings();
        BenchPrompter prompter(BenchPrompter::OnMessage::Report);
        QuietHost host;
        RunFlags flags;
        ConversionContext context{settings, flags, services.fileTools, prompter, host};
        return convertIndexFile(context, folder + "/batch.csv", folder + "/DATAGRP.XML", "REZI_DATAGRP", "DOCUMENT");
    });
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
    return figures;
}

// Prints peak memory per document at each size, and the growth per document between the two.
inline void printMemoryPerDocument(const std::string& work, long smaller, long larger)
{
    const Figures small = conversionMemory(work, smaller);
    const Figures large = conversionMemory(work, larger);
    const double growth = (large.peakKiB - small.peakKiB) / static_cast<double>(larger - smaller);
    std::printf("memory: %ld lines peak %.0f MiB (%.2f KiB/document), %ld lines peak %.0f MiB (%.2f KiB/document); "
                "growth %.2f KiB/document%s\n",
                smaller, small.peakKiB / 1024, small.peakKiB / static_cast<double>(smaller), larger,
                large.peakKiB / 1024, large.peakKiB / static_cast<double>(larger), growth,
                small.ok && large.ok ? "" : "  (A CONVERSION FAILED)");
}

// One Convert command over `files` index files (a "*.idx" item) holding `documents` lines between them,
// each with its image, into a new datagroup.
inline Figures measureConvertCommand(const std::string& work, long files, long documents, size_t* xmlSize = nullptr)
{
    const std::string root = work + "/command-" + std::to_string(files);
    std::filesystem::remove_all(root);
    const long each = documents / files;
    char name[32];
    for (long n = 0; n < files; ++n) {
        std::snprintf(name, sizeof name, "/f%06ld.idx", n + 1);
        writeIndexLines(root + "/in" + name, n * each + 1, each, true);
    }
    writeImages(root + "/scans", each * files);
    const Figures figures = inChild([&] {
        QuietServices services;
        ConversionSettings settings = archiveSettings();
        settings.indexFiles = root + "/in/*.idx";
        settings.imageFolder = root + "/scans";
        settings.xmlFilePath = root + "/out/DATAGRP.XML";
        settings.companyId = "DEFC";
        settings.datagroupNumber = "1";
        std::string configFile = root + "/setup.tvr";
        BenchPrompter prompter(BenchPrompter::OnMessage::Report);
        QuietHost host;
        NoDialog dialog;
        RunFlags flags;
        CommandContext context{settings, configFile, flags, services.fileTools, prompter, host, dialog, messageTable()};
        const ConvertOutcome outcome = convertCommand(context);
        return outcome.ranToEnd && outcome.allConverted;
    });
    if (xmlSize)
        *xmlSize = std::filesystem::file_size(root + "/out/DEFC0001/DATAGRP.XML");
    std::filesystem::remove_all(root);
    return figures;
}

// The bare work of converting `documents` documents from K index files, which no converter can avoid if
// a kill or a power cut at any moment is to leave every image and DATAGRP.XML whole and findable: for
// each file, a journal made durable before its first move (written, synced, named, its folder synced),
// the file's renames, the journal synced again, then DATAGRP.XML saved whole at that file's size
// (written to a temporary, synced, renamed over the old one, its folder synced) and the journal removed.
inline double bareWorkOfManyFiles(const std::string& work, long files, long documents, size_t finalXmlSize)
{
    const std::string root = work + "/bare-" + std::to_string(files);
    const std::string out = root + "/out/DEFC0001";
    writeImages(root + "/scans", documents);
    std::filesystem::create_directories(out + "/B1");
    const std::string bytes(finalXmlSize, 'x');
    const auto syncFolder = [&out] {
        const int fd = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
        ::fsync(fd);
        ::close(fd);
    };
    const auto writeSynced = [](const std::string& path, std::string_view text) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            std::perror(path.c_str());
        ::fsync(fd);
        return fd;
    };
    ::sync();
    const long each = documents / files;
    const auto start = std::chrono::steady_clock::now();
    for (long k = 0; k < files; ++k) {
        const int journal = writeSynced(out + "/journal.new", std::string(300, 'j'));
        std::rename((out + "/journal.new").c_str(), (out + "/journal").c_str());
        syncFolder();
        for (long n = k * each + 1; n <= (k + 1) * each; ++n) {
            const std::string name = "/B1/" + std::to_string(n) + ".TIF";
            std::rename((root + "/scans" + name).c_str(), (out + name).c_str());
        }
        ::fdatasync(journal);
        ::close(writeSynced(out + "/xml.tmp", std::string_view(bytes).substr(0, finalXmlSize * (k + 1) / files)));
        std::rename((out + "/xml.tmp").c_str(), (out + "/DATAGRP.XML").c_str());
        syncFolder();
        ::close(journal);
        std::remove((out + "/journal").c_str());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::filesystem::remove_all(root);
    return seconds;
}

inline void printManyFilesRatio(const std::string& work, long documents, long files)
{
    const Figures one = measureConvertCommand(work, 1, documents);
    size_t xmlSize = 0;
    const Figures many = measureConvertCommand(work, files, documents, &xmlSize);
    const double bareOne = bareWorkOfManyFiles(work, 1, documents, xmlSize);
    const double bareMany = bareWorkOfManyFiles(work, files, documents, xmlSize);
    std::printf("many files: %ld documents from 1 index file %.3f s, from %ld files %.3f s; ratio %.2fx "
                "(bare work: %.3f s and %.3f s, ratio %.2fx)%s\n",
                documents, one.seconds, files, many.seconds, many.seconds / one.seconds, bareOne, bareMany,
                bareMany / bareOne, one.ok && many.ok ? "" : "  (A COMMAND FAILED)");
}

} // namespace tollavar::bench
