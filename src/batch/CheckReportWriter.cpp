#include "batch/CheckReportWriter.h"

#include "batch/BatchCheck.h"

#include <nlohmann/json.hpp>

namespace tollavar {

namespace {

struct KindNames
{
    const char* label;
    const char* key;
};

constexpr KindNames kKinds[kCheckKindCount] = {
    {"Images missing", "missingImages"},
    {"Image paths refused", "refusedPaths"},
    {"Images whose place in the datagroup is taken", "duplicateImages"},
    {"Lines with more or fewer columns than names", "columnCounts"},
    {"Values XML cannot carry", "xmlValues"},
    {"Full-text files found", "fullTextFiles"},
};

std::string datagroupState(const BatchCheckReport& r)
{
    if (!r.datagroupExists)
        return "new: it would be created";
    if (!r.xmlExists)
        return "exists, no DATAGRP.XML yet";
    if (!r.xmlExtensible)
        return "exists, its DATAGRP.XML cannot be added to";
    return "exists, DATAGRP.XML ends at DOCID " + std::to_string(r.lastDocIdBefore);
}

std::string maximumLine(const BatchCheckReport& r)
{
    if (!r.maxFiles)
        return "Maximum per datagroup: not a number";
    std::string line = "Maximum per datagroup: " + std::to_string(*r.maxFiles) +
                       "; after this command the last DOCID would be " + std::to_string(r.lastDocIdAfter);
    return line + (r.wouldPassMaximum() ? ", past the maximum: the next command opens a new datagroup"
                                        : ", within the maximum");
}

void appendProblems(std::string& out, const std::vector<std::string>& problems, const char* indent)
{
    for (const std::string& problem : problems)
        out += std::string(indent) + "- " + problem + "\n";
}

} // namespace

std::string CheckReportText(const BatchCheckReport& r)
{
    std::string out = "Configuration: " + r.configFile + "\n";
    if (!r.datagroupFolder.empty()) {
        out += "Datagroup folder: " + r.datagroupFolder + " (" + datagroupState(r) + ")\n";
        out += "Next DOCID: " + std::to_string(r.nextDocId) + "\n";
        out += maximumLine(r) + "\n";
    }
    out += "Index files: " + std::to_string(r.files.size()) + "\n";
    if (!r.problems.empty()) {
        out += "Problems of the command: " + std::to_string(r.problems.size()) + "\n";
        appendProblems(out, r.problems, "  ");
    }
    for (size_t i = 0; i < r.files.size(); ++i) {
        const IndexFileCheck& f = r.files[i];
        out += "\nIndex file " + std::to_string(i + 1) + " of " + std::to_string(r.files.size()) + ": " + f.path + "\n";
        out += "  Lines: " + std::to_string(f.lines) + ", documents: " + std::to_string(f.documents);
        if (f.documents > 0)
            out += " (DOCID " + std::to_string(f.firstDocId) + " to " + std::to_string(f.lastDocId) + ")";
        out += ", encoding: " + (f.encoding.empty() ? std::string("unknown") : f.encoding) + "\n";
        if (!f.problems.empty()) {
            out += "  Problems: " + std::to_string(f.problems.size()) + "\n";
            appendProblems(out, f.problems, "    ");
        }
        for (size_t kind = 0; kind < kCheckKindCount; ++kind) {
            const CheckFindings& found = f.findings[kind];
            out += std::string("  ") + kKinds[kind].label + ": " + std::to_string(found.count) + "\n";
            for (const CheckExample& example : found.examples)
                out += "    line " + std::to_string(example.line) + ": " + example.text + "\n";
            if (found.count > static_cast<long>(found.examples.size()))
                out +=
                    "    ... and " + std::to_string(found.count - static_cast<long>(found.examples.size())) + " more\n";
        }
    }
    const long blocking = r.blockingCount();
    out += "\n";
    out += blocking == 0 ? "Result: the conversion would run without a question or error.\n"
                         : "Result: the conversion would meet " + std::to_string(blocking) +
                               (blocking == 1 ? " question or error.\n" : " questions or errors.\n");
    return out;
}

std::string CheckReportJson(const BatchCheckReport& r)
{
    using Json = nlohmann::ordered_json;
    Json files = Json::array();
    for (const IndexFileCheck& f : r.files) {
        Json file = {{"path", f.path},           {"encoding", f.encoding},     {"lines", f.lines},
                     {"documents", f.documents}, {"firstDocId", f.firstDocId}, {"lastDocId", f.lastDocId},
                     {"problems", f.problems}};
        for (size_t kind = 0; kind < kCheckKindCount; ++kind) {
            const CheckFindings& found = f.findings[kind];
            Json examples = Json::array();
            for (const CheckExample& example : found.examples)
                examples.push_back({{"line", example.line}, {"text", example.text}});
            file[kKinds[kind].key] = {{"count", found.count}, {"examples", std::move(examples)}};
        }
        files.push_back(std::move(file));
    }
    const Json report = {{"configFile", r.configFile},
                         {"datagroupFolder", r.datagroupFolder},
                         {"datagroupExists", r.datagroupExists},
                         {"xmlExists", r.xmlExists},
                         {"xmlExtensible", r.xmlExtensible},
                         {"nextDocId", r.nextDocId},
                         {"lastDocIdAfter", r.lastDocIdAfter},
                         {"maxFiles", r.maxFiles ? Json(*r.maxFiles) : Json(nullptr)},
                         {"wouldPassMaximum", r.wouldPassMaximum()},
                         {"allowDuplicates", r.allowDuplicates},
                         {"problems", r.problems},
                         {"files", std::move(files)},
                         {"blocking", r.blockingCount()},
                         {"wouldRunClean", r.blockingCount() == 0}};
    // Names read as windows-1252 are UTF-8 by now; a byte that still is not becomes U+FFFD.
    return report.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace tollavar
