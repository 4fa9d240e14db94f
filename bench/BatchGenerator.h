#pragma once

// Generated batches for the benchmarks: one small image per line, a full-text file for every tenth.

#include "engine/ConversionSettings.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace tollavar::bench {

inline void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Lines numbered from firstId; images under root/scans/B1, the index file root/batch.csv.
inline void makeBatch(const std::string& root, long lines, long firstId = 1)
{
    std::filesystem::create_directories(root + "/scans/B1");
    std::string index;
    for (long i = firstId; i < firstId + lines; ++i) {
        const std::string name = "/B1/" + std::to_string(i) + ".TIF";
        writeText(root + "/scans" + name, "II*image");
        if (i % 10 == 0)
            writeText(root + "/scans/B1/" + std::to_string(i) + ".txt", "full text");
        index +=
            "\"Customer " + std::to_string(i) + ", Ltd\"," + name + ",3,2026-12-07,B7," + std::to_string(i) + "\r\n";
    }
    writeText(root + "/batch.csv", index);
}

inline void applyBatchSettings(ConversionSettings& settings, const std::string& root)
{
    settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT|Scan Date|BATCHID|ID Number";
    settings.fieldTypes = "text|text|number|date|text|number";
    settings.imageFolder = root + "/scans";
    settings.maxDocuments = "1000000";
}

} // namespace tollavar::bench
