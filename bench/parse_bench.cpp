// Throughput of reading and parsing an index file.
//
//   parse_bench [file] [--utf8]
//
// Writes a 1,000,000-line index file of 10 columns (windows-1252 by default, UTF-8 with --utf8) to
// `file` (default /tmp/tollavar-parse-bench.txt), then prints the MB/s of reading its bytes and of
// reading, decoding and parsing it into a sink that only counts. Each figure is the best of three
// passes over a file that the first pass has brought into the page cache.

#include "engine/IndexFileReader.h"
#include "engine/IndexLineParser.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace tollavar;

namespace {

constexpr int kLines = 1'000'000;

class CountingSink : public FieldSink
{
public:
    void beginObject() override { ++objects; }
    void imagePath(std::string_view path) override { count(path); }
    void pageCount(std::string_view pages) override { count(pages); }
    void indexField(std::string_view, std::string_view value, bool) override { count(value); }

    long objects = 0;
    long fields = 0;
    long valueBytes = 0;

private:
    void count(std::string_view value)
    {
        ++fields;
        valueBytes += static_cast<long>(value.size());
    }
};

void writeIndexFile(const std::string& path, bool utf8)
{
    // e-acute, euro sign and u-umlaut: a few non-ASCII characters per line in the file's encoding.
    const std::string eAcute = utf8 ? "\xC3\xA9" : "\xE9";
    const std::string euro = utf8 ? "\xE2\x82\xAC" : "\x80";
    const std::string uUmlaut = utf8 ? "\xC3\xBC" : "\xFC";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string line;
    for (int i = 0; i < kLines; ++i) {
        line.clear();
        line += "\"Ren" + eAcute + " M" + uUmlaut + "ller, Jr.\",";
        line += "\"\\images\\batch" + std::to_string(i / 1000) + "\\" + std::to_string(i) + ".TIF\",";
        line += std::to_string(1 + i % 7) + ",";
        line += "\"B-" + std::to_string(i / 500) + "\",";
        line += "\"Invoice " + std::to_string(100000 + i) + ", paid\",";
        line += "\"2024-0" + std::to_string(1 + i % 9) + "-15\",";
        line += "\"" + std::to_string(i % 100000) + "." + std::to_string(i % 100) + " " + euro + "\",";
        line += "\"He said \"\"done\"\", twice\",";
        line += "  Account 42  ,";
        line += "\"Notes: " + std::to_string(i) + "; filed, checked, scanned\"\r\n";
        out << line;
    }
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

template <typename Fn> double bestSeconds(Fn&& pass)
{
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        pass();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    std::string path = "/tmp/tollavar-parse-bench.txt";
    bool utf8 = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--utf8")
            utf8 = true;
        else
            path = arg;
    }
    try {
        writeIndexFile(path, utf8);

        size_t bytes = 0;
        const double readSeconds = bestSeconds([&] { bytes = files::readAll(path).size(); });

        const std::vector<std::string> names = {"Name", "IMAGEPATH", "PAGECOUNT", "BATCHID", "Invoice",
                                                "Date", "Amount",    "Remark",    "Account", "Notes"};
        const std::string delimiter = delimiterFromSetting(",");
        CountingSink sink;
        const double parseSeconds = bestSeconds([&] {
            sink = CountingSink();
            IndexLineParser parser(names);
            IndexFileReader reader(path);
            RunStage stage = RunStage::LineRead;
            std::string_view line;
            while (reader.readLine(line)) {
                if (!isBlankLine(line))
                    parser.parseLine(line, delimiter, sink, stage);
            }
        });

        const double mb = static_cast<double>(bytes) / 1e6;
        std::printf("index file: %s (%s, %d lines, 10 columns, %.1f MB)\n", path.c_str(),
                    utf8 ? "UTF-8" : "windows-1252", kLines, mb);
        std::printf("read bytes:               %8.1f MB/s (%.3f s)\n", mb / readSeconds, readSeconds);
        std::printf("read + decode + parse:    %8.1f MB/s (%.3f s)\n", mb / parseSeconds, parseSeconds);
        std::printf("documents %ld, fields %ld, value bytes %ld\n", sink.objects, sink.fields, sink.valueBytes);
        return sink.objects == kLines ? 0 : 1;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "%d - %s\n", failure.number(), failure.description().c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    return 1;
}
