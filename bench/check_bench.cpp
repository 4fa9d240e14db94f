// What --check costs on a generated batch, beside what it may cost at most: reading and parsing the
// index file, plus one lstat per image. Warm caches; processor time (the machine may be shared), the
// best of three runs each.
//
//   check_bench [work-folder] [lines] [keep]     ("keep" leaves the batch for the next run)

#include "BatchGenerator.h"
#include "BenchServices.h"
#include "QuietRun.h"
#include "batch/CommandContext.h"
#include "batch/DryRunCheck.h"
#include "batch/FileDialog.h"
#include "engine/ConversionHost.h"
#include "engine/ConversionSettings.h"
#include "engine/IndexFileReader.h"
#include "engine/IndexLineParser.h"
#include "engine/Prompter.h"
#include "ui/MessageTable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <time.h>

using namespace tollavar;

namespace {

// Keeps the image path, as the least any check must do with a line.
struct PathSink : FieldSink
{
    void beginObject() override {}
    void imagePath(std::string_view path) override { paths.emplace_back(path); }
    void pageCount(std::string_view) override {}
    void indexField(std::string_view, std::string_view, bool) override {}
    std::vector<std::string> paths;
};

double bestOfThree(const std::function<void()>& work)
{
    double best = 1e9;
    const auto now = [] {
        timespec t{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return t.tv_sec + t.tv_nsec / 1e9;
    };
    for (int i = 0; i < 3; ++i) {
        const double start = now();
        work();
        best = std::min(best, now() - start);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    const long lines = argc > 2 ? std::atol(argv[2]) : 30000;
    const std::string root = base + "/tollavar-check-bench";
    const bool keep = argc > 3 && std::string(argv[3]) == "keep";
    if (!keep || !std::filesystem::exists(root + "/batch.csv")) {
        std::filesystem::remove_all(root);
        bench::makeBatch(root, lines, 1);
    }

    ConversionSettings settings;
    bench::applyBatchSettings(settings, root);
    settings.indexFiles = root + "/batch.csv";
    settings.xmlFilePath = root + "/out/DATAGRP.XML";

    std::vector<std::string> paths;
    const double parse = bestOfThree([&] {
        IndexFileReader reader(root + "/batch.csv");
        IndexLineParser parser(splitBarList(settings.fieldNames));
        PathSink sink;
        RunStage stage = RunStage::LineRead;
        std::string_view line;
        while (reader.readLine(line))
            parser.parseLine(line, ",", sink, stage);
        paths = std::move(sink.paths);
    });
    const double stats = bestOfThree([&] {
        struct stat st
        {
        };
        for (const std::string& path : paths) {
            std::string native = settings.imageFolder + path;
            std::replace(native.begin(), native.end(), '\\', '/');
            ::lstat(native.c_str(), &st);
        }
    });

    bench::QuietServices services;
    bench::BenchPrompter prompter;
    bench::QuietHost host;
    bench::NoDialog dialog;
    std::string configFile = root + "/batch.tvr";
    RunFlags flags;
    CommandContext ctx{settings, configFile, flags, services.fileTools, prompter, host, dialog, messageTable()};
    long blocking = -1;
    const double check = bestOfThree([&] { blocking = checkBatch(ctx).blockingCount(); });

    std::printf("check %ld lines: %.3f s; parse %.3f s + one lstat per image %.3f s = %.3f s; ratio %.2f "
                "(%ld questions or errors found)\n",
                lines, check, parse, stats, parse + stats, check / (parse + stats), blocking);
    if (!keep)
        std::filesystem::remove_all(root);
    return blocking == 0 ? 0 : 1;
}
