#pragma once

#include "filetools/DocumentOpener.h"
#include "filetools/FileTools.h"
#include "filetools/SettingsStore.h"

#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace tollavar::testing {

class FakeSettingsStore : public SettingsStore
{
public:
    std::string read(const std::string& a, const std::string& s, const std::string& k,
                     const std::string& defaultValue) override
    {
        auto it = values.find({a, s, k});
        return it == values.end() ? defaultValue : it->second;
    }
    void write(const std::string& a, const std::string& s, const std::string& k, const std::string& v) override
    {
        values[{a, s, k}] = v;
    }
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
};

class FakeOpener : public DocumentOpener
{
public:
    bool open(const std::string& target) override
    {
        opened.push_back(target);
        return succeed;
    }
    std::vector<std::string> opened;
    bool succeed = true;
};

// A FileTools with fake store and opener, for tests that need the real path helpers.
struct FakeServices
{
    FakeSettingsStore store;
    FakeOpener opener;
    FileTools fileTools{store, opener};
};

} // namespace tollavar::testing
