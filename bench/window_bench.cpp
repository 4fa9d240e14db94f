// A conversion of a generated batch through the main window: shown (under a display, the status panels
// updated for every line) or hidden on the offscreen platform, as an unattended run has it.
//
//   window_bench shown|hidden [lines] [work-folder]
//   bench/window_bench.sh [lines]     runs both and prints the ratio

#include "BatchGenerator.h"
#include "BenchServices.h"
#include "QuietRun.h"
#include "batch/FileDialog.h"
#include "engine/ConversionRun.h"
#include "engine/Prompter.h"
#include "filetools/DocumentOpener.h"
#include "filetools/FileTools.h"
#include "filetools/SettingsStore.h"
#include "ui/MainWindow.h"
#include "ui/MessageTable.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace tollavar;

namespace {

using bench::NoOpener;
using bench::NoStore;

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "hidden";
    const long lines = argc > 2 ? std::atol(argv[2]) : 30000;
    const std::string root =
        argc > 3 ? argv[3] : (std::filesystem::temp_directory_path() / ("tollavar-window-" + mode)).string();
    if (mode == "hidden")
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    QApplication app(argc, argv);

    std::filesystem::remove_all(root);
    bench::makeBatch(root, lines);

    NoStore store;
    NoOpener opener;
    FileTools fileTools(store, opener);
    bench::BenchPrompter prompter(bench::BenchPrompter::OnMessage::Stop);
    bench::NoDialog dialog;
    MainWindow window(fileTools, prompter, dialog, store);
    bench::applyBatchSettings(window.settings, root);
    window.showSettings();
    if (mode == "shown") {
        window.show();
        for (int i = 0; i < 20; ++i)
            QApplication::processEvents();
    }

    ConversionContext context = window.commands().conversion();
    const auto start = std::chrono::steady_clock::now();
    const bool ok =
        convertIndexFile(context, root + "/batch.csv", root + "/out/DEFC0001/DATAGRP.XML", "REZI_DATAGRP", "DOCUMENT");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s window: %ld lines in %.3f s (%.0f documents/s)%s\n", mode.c_str(), lines, seconds, lines / seconds,
                ok ? "" : " FAILED");
    std::filesystem::remove_all(root);
    return ok ? 0 : 1;
}
