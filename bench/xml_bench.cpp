// Building and saving a large DATAGRP.XML.
//
//   xml_bench [documents] [folder]
//
// Builds a datagroup of `documents` documents (default 100,000; each with an image path, a page count
// and four index fields, the last column among them) in memory, saves it into `folder` (default: a
// fresh folder under /tmp, removed afterwards), and prints documents/s for building, for serializing
// and for the whole save, the peak memory per document, and beside them the time that plain write()
// calls take to put the same bytes on disk, with and without an fsync. Last it parses the saved bytes
// again and locates the last DOCID, as extending the datagroup would.

#include "engine/DatagroupDocument.h"
#include "filetools/Failure.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace tollavar;

namespace {

// Peak resident set (VmHWM) in kB, from the kernel's own accounting.
long peakKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void plainWrite(const std::string& path, const std::string& bytes, bool sync)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, std::min<size_t>(bytes.size() - done, 1 << 16));
        if (n <= 0)
            throw std::runtime_error("cannot write " + path);
        done += static_cast<size_t>(n);
    }
    if (sync)
        ::fsync(fd);
    ::close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100'000;
    std::string folder = argc > 2 ? argv[2] : "";
    const bool ownFolder = folder.empty();
    if (ownFolder) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tollavar-xml-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return 2;
        folder = pattern;
    }
    const std::string path = folder + "/DATAGRP.XML";

    try {
        const long peakBefore = peakKilobytes();
        auto start = std::chrono::steady_clock::now();
        DatagroupDocument document;
        document.buildHeader("REZI_DATAGRP", {"12", "Acme & Sons", "ACME", "7", "Claims"},
                             {"Name", "IMAGEPATH", "PAGECOUNT", "BATCHID", "Invoice", "Scan Date", "Notes"},
                             {"text", "text", "number", "text", "text", "date", "text"});
        std::string value;
        for (long id = 1; id <= count; ++id) {
            document.beginDocument("DOCUMENT", id);
            document.beginObject();
            document.addIndexField("Name", "Ren\xC3\xA9 M\xC3\xBCller, Jr.", false);
            document.setImagePath("\\images\\batch" + std::to_string(id / 1000) + "\\" + std::to_string(id) + ".TIF");
            document.setPages(std::to_string(1 + id % 7));
            value = "Invoice " + std::to_string(100000 + id) + ", paid";
            document.addIndexField("Invoice", value, false);
            document.addIndexField("Scan Date", "2024-05-15", false);
            value = "Notes: " + std::to_string(id) + "; filed & checked \xE2\x82\xAC";
            document.addIndexField("Notes", value, true);
            document.endDocument();
        }
        document.closeNewDocument();
        const double built = secondsSince(start);
        const long peakBuilt = peakKilobytes();

        start = std::chrono::steady_clock::now();
        document.save(path);
        const double saved = secondsSince(start);
        const long peakSaved = peakKilobytes();

        start = std::chrono::steady_clock::now();
        const std::string bytes = document.serialize();
        const double serialized = secondsSince(start);

        start = std::chrono::steady_clock::now();
        plainWrite(path + ".plain", bytes, false);
        const double plain = secondsSince(start);
        start = std::chrono::steady_clock::now();
        plainWrite(path + ".plain", bytes, true);
        const double plainSynced = secondsSince(start);

        // Extending it: parse the saved bytes and find where numbering goes on. A DOCID beyond 32767
        // cannot be extended by design, but getting that far shows the whole file was parsed.
        start = std::chrono::steady_clock::now();
        DatagroupDocument existing;
        existing.parseExisting(bytes);
        try {
            if (existing.locateDocuments() != count)
                throw Failure(ErrorCode::InvalidCall, "xml_bench", "the reopened document ends at another DOCID");
        } catch (const Failure& failure) {
            if (count <= 32767 || failure.description().find("DOCID \"" + std::to_string(count)) == std::string::npos)
                throw;
        }
        const double reopened = secondsSince(start);

        const double n = static_cast<double>(count);
        std::printf("documents:                      %ld (%.1f MB of XML)\n", count, bytes.size() / 1e6);
        std::printf("build in memory:                %10.0f documents/s\n", n / built);
        std::printf("serialize to memory:            %10.0f documents/s\n", n / serialized);
        std::printf("save (serialize + atomic file): %10.0f documents/s  (%.3f s)\n", n / saved, saved);
        std::printf("reopen (parse + locate):        %10.0f documents/s\n", n / reopened);
        std::printf("plain write() of the same bytes:                      (%.3f s; with fsync %.3f s)\n", plain,
                    plainSynced);
        std::printf("peak memory per document:       %10.0f bytes built, %.0f bytes while saving\n",
                    (peakBuilt - peakBefore) * 1024.0 / n, (peakSaved - peakBefore) * 1024.0 / n);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "%d - %s\n", failure.number(), failure.description().c_str());
        return 1;
    }
    if (ownFolder)
        std::filesystem::remove_all(folder);
    return 0;
}
