// End-to-end conversion figures: a generated batch converted into a new datagroup through
// convertIndexFile, beside the baseline any converter pays (the same output bytes written with plain
// writes and the same renames); the extension of a large datagroup beside a bare libxml2 parse; 10,000
// documents from 100 index files beside one; peak memory per document at 3,000 and 30,000
// lines (a datagroup holds at most 32,767 documents).
//
//   e2e_bench [work-folder] [convert [lines]|extend|files|memory]

#include "ArchiveFigures.h"
#include "BatchGenerator.h"
#include "BenchServices.h"
#include "QuietRun.h"
#include "batch/RunHistory.h"
#include "engine/ConversionHost.h"
#include "engine/ConversionObserver.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/Prompter.h"
#include "engine/RunJournal.h"
#include "filetools/DocumentOpener.h"
#include "filetools/FileTools.h"
#include "filetools/LineLog.h"
#include "filetools/SettingsStore.h"
#include "ui/MessageTable.h"

#include <libxml/parser.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace tollavar;
namespace fs = std::filesystem;

namespace {

using bench::NoOpener;
using bench::NoStore;
using bench::QuietHost;

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

ConversionSettings benchSettings(const std::string& root)
{
    ConversionSettings settings;
    bench::applyBatchSettings(settings, root);
    return settings;
}

// What the Convert command's record keeping asks of every conversion: the facts, and progress calls
// that nobody draws.
struct RecordKeeping : ConversionObserver
{
    void indexFileEnded(const IndexFileFacts& ended, bool) override { facts = ended; }
    IndexFileFacts facts;
};

bool convert(const std::string& root, ConversionSettings& settings)
{
    NoStore store;
    NoOpener opener;
    FileTools tools(store, opener);
    bench::BenchPrompter prompter(bench::BenchPrompter::OnMessage::Stop);
    QuietHost host;
    RunFlags flags;
    // The recovery journal the Convert command keeps is part of what a conversion costs.
    RunJournal journal(root + "/out/DEFC0001", "", false);
    ConversionContext context{settings, flags, tools, prompter, host};
    context.journal = &journal;
    RecordKeeping record;
    context.observer = &record;
    const bool converted =
        convertIndexFile(context, root + "/batch.csv", root + "/out/DEFC0001/DATAGRP.XML", "REZI_DATAGRP", "DOCUMENT");
    if (converted)
        journal.remove();
    return converted;
}

void conversionFigures(const std::string& work, long lines)
{
    // Two copies of the same batch: the conversion takes one, the bare work the other, each moving its
    // images out of a folder just written into a datagroup folder that does not exist yet.
    const std::string root = work + "/run" + std::to_string(lines);
    const std::string bare = work + "/bare" + std::to_string(lines);
    fs::remove_all(root);
    fs::remove_all(bare);
    bench::makeBatch(root, lines, 1);
    bench::makeBatch(bare, lines, 1);
    ConversionSettings settings = benchSettings(root);
    ::sync();
    auto start = std::chrono::steady_clock::now();
    if (!convert(root, settings)) {
        std::fprintf(stderr, "conversion failed\n");
        std::exit(1);
    }
    const double ours = seconds(start);

    // Baseline: the same bytes written plainly and fsynced, the same renames into a new folder.
    const std::string xmlBytes = [&] {
        std::ifstream in(root + "/out/DEFC0001/DATAGRP.XML", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    ::sync();
    start = std::chrono::steady_clock::now();
    {
        std::ifstream in(bare + "/batch.csv", std::ios::binary);
        std::string index((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fs::create_directories(bare + "/out/DEFC0001/B1");
        std::FILE* out = std::fopen((bare + "/out/DEFC0001/DATAGRP.XML").c_str(), "wb");
        std::fwrite(xmlBytes.data(), 1, xmlBytes.size(), out);
        std::fflush(out);
        fsync(fileno(out));
        std::fclose(out);
        for (long i = 1; i <= lines; ++i) {
            const std::string name = "/B1/" + std::to_string(i);
            std::rename((bare + "/scans" + name + ".TIF").c_str(), (bare + "/out/DEFC0001" + name + ".TIF").c_str());
            if (i % 10 == 0)
                std::rename((bare + "/scans" + name + ".txt").c_str(),
                            (bare + "/out/DEFC0001" + name + ".PVFULLTEXT").c_str());
        }
    }
    const double baseline = seconds(start);
    std::printf("convert %7ld lines: %8.3f s  %9.0f documents/s  baseline %8.3f s  ratio %5.2fx  peak memory %ld MiB\n",
                lines, ours, lines / ours, baseline, ours / baseline, peakKiB() / 1024);
    fs::remove_all(root);
    fs::remove_all(bare);
}

void extensionFigures(const std::string& work)
{
    const std::string root = work + "/extend";
    fs::remove_all(root);
    bench::makeBatch(root, 30000, 1);
    ConversionSettings settings = benchSettings(root);
    if (!convert(root, settings))
        std::exit(1);
    bench::makeBatch(root, 100, 30001);
    const std::string xml = root + "/out/DEFC0001/DATAGRP.XML";
    const auto size = fs::file_size(xml);

    auto start = std::chrono::steady_clock::now();
    xmlDocPtr doc = xmlReadFile(xml.c_str(), nullptr, XML_PARSE_NONET);
    const double parse = seconds(start);
    xmlFreeDoc(doc);

    start = std::chrono::steady_clock::now();
    if (!convert(root, settings))
        std::exit(1);
    const double extend = seconds(start);
    std::printf("extend 30000 documents (%.1f MB) by 100 lines: %.3f s; libxml2 parse alone %.3f s; ratio %.2fx\n",
                size / 1e6, extend, parse, extend / parse);
    fs::remove_all(root);
}

// The cost of the run history per Convert command: a record of two index files with a question each,
// written as JSON and appended to a log as the program does.
void recordFigures(const std::string& work)
{
    RunRecord record;
    record.started = record.ended = "2026-12-07T18:24:52+00:00";
    record.user = "scan";
    record.host = "station-1";
    record.mode = "unattended";
    record.configFile = "/srv/scan/jobs/acme.tvr";
    record.datagroupFolder = "/srv/export/ACME0007";
    record.outcome = "converted";
    for (int i = 0; i < 2; ++i) {
        IndexFileRecord file;
        file.path = "/srv/scan/in/batch" + std::to_string(i) + ".idx";
        file.converted = true;
        file.facts = IndexFileFacts{123456, "78af5f94892f3950", 300, 1 + 300 * i, 300 + 300 * i, 300, 30, 1};
        file.questions.push_back(
            AnsweredQuestion{"Source File is Missing", "Source File: /srv/scan/B1/0009.TIF\rSkip file?", "Yes"});
        record.files.push_back(file);
    }
    const std::string log = work + "/history/runs.jsonl";
    constexpr int kRecords = 2000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRecords; ++i)
        files::appendWholeLine(log, runRecordJson(record));
    const double total = seconds(start);
    std::printf("history record (2 index files): %.3f ms per Convert command, %.3f ms per index file\n",
                total * 1000 / kRecords, total * 1000 / kRecords / 2);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string work = argc > 1 ? argv[1] : (fs::temp_directory_path() / "tollavar-e2e-bench").string();
    const std::string only = argc > 2 ? argv[2] : "";
    const auto wanted = [&](const char* part) { return only.empty() || only == part; };
    fs::create_directories(work);
    if (wanted("convert")) {
        // A third argument asks for that many lines alone (to set beside an older build's figure).
        if (argc > 3) {
            conversionFigures(work, std::atol(argv[3]));
        } else {
            conversionFigures(work, 10000);
            conversionFigures(work, 30000);
        }
    }
    if (wanted("extend"))
        extensionFigures(work);
    if (wanted("files"))
        bench::printManyFilesRatio(work, 10000, 100);
    if (wanted("record"))
        recordFigures(work);
    if (wanted("memory"))
        bench::printMemoryPerDocument(work, 3000, 30000);
    fs::remove_all(work);
    return 0;
}
