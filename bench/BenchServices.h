#pragma once

// The program's services, stood in for by benchmarks that must not ask, store or open anything.

#include "filetools/DocumentOpener.h"
#include "filetools/FileTools.h"
#include "filetools/SettingsStore.h"

#include <string>

namespace tollavar::bench {

struct NoStore : SettingsStore
{
    std::string read(const std::string&, const std::string&, const std::string&, const std::string& d) override
    {
        return d;
    }
    void write(const std::string&, const std::string&, const std::string&, const std::string&) override {}
};

struct NoOpener : DocumentOpener
{
    bool open(const std::string&) override { return false; }
};

// A FileTools over the stand-ins.
struct QuietServices
{
    NoStore store;
    NoOpener opener;
    FileTools fileTools{store, opener};
};

} // namespace tollavar::bench
