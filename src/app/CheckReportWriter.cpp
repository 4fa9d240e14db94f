#include "app/CheckReportWriter.h"

#include "batch/CheckReport.h"

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
    {"Images whose place in the datagroup is taken", "duplicateImages"},
    {"Other questions", "questions"},
    {"Errors that stop the conversion", "errors"},
    {"Full-text files that travel with their images", "fullTextFiles"},
};

std::string datagroupState(const CheckReport& r)
{
    if (!r.datagroupExists)
        return "new: it would be created";
    if (!r.xmlExists)
        return "exists, no DATAGRP.XML yet";
    return "exists, with DATAGRP.XML";
}

std::string maximumLine(const CheckReport& r)
{
    if (!r.maxFiles)
        return "Maximum per datagroup: not a number";
    std::string line = "Maximum per datagroup: " + std::to_string(*r.maxFiles) +
                       "; after this command the last DOCID would be " + std::to_string(r.lastDocIdAfter);
    return line +
           (r.wouldPassMaximum ? ", past the maximum: the next command opens a new datagroup" : ", within the maximum");
}

std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

// `answer` is empty for a message that asks nothing.
std::string messageLine(const std::string& caption, const std::string& text, const std::string& answer)
{
    return caption + ": " + oneLine(text) + (answer.empty() ? "" : " [an unattended run answers " + answer + "]");
}

std::string messageLine(const CheckMessage& m)
{
    return messageLine(m.caption, m.text, m.question ? m.answer : "");
}

std::string exampleText(const CheckExample& example)
{
    switch (example.what) {
    case CheckExample::What::NumberedName:
        return example.path + " is taken; the image would get a numbered name";
    case CheckExample::What::FullTextFile:
        return example.path;
    case CheckExample::What::Message:
        break;
    }
    return messageLine(example.caption, example.text, example.answer);
}

std::string changesLine(const CheckReport& r)
{
    return "Changes it would make (none made): images moved " + std::to_string(r.imagesMoved) +
           ", full-text files moved " + std::to_string(r.fullTextsMoved) + ", folders created " +
           std::to_string(r.foldersCreated) + ", files removed " + std::to_string(r.filesDeleted) + ", files written " +
           std::to_string(r.filesWritten.size()) + "\n";
}

} // namespace

std::string checkReportText(const CheckReport& r)
{
    std::string out = "Configuration: " + r.configFile + "\n";
    if (!r.datagroupFolder.empty()) {
        out += "Datagroup folder: " + r.datagroupFolder + " (" + datagroupState(r) + ")\n";
        if (r.readUnlocked)
            out += "Read without the datagroup's lock (taking it would write a lock file): a conversion may be "
                   "running\n";
        if (r.nextDocId)
            out += "Next DOCID: " + std::to_string(*r.nextDocId) + "\n";
        out += maximumLine(r) + "\n";
    }
    out += "Index files: " + std::to_string(r.files.size()) + "\n";
    if (!r.commandMessages.empty()) {
        out += "Messages of the command: " + std::to_string(r.commandMessages.size()) + "\n";
        for (const CheckMessage& m : r.commandMessages)
            out += "  - " + messageLine(m) + "\n";
    }
    for (const std::string& notice : r.notices)
        out += "Notice: " + notice + "\n";
    for (size_t i = 0; i < r.files.size(); ++i) {
        const IndexFileCheck& f = r.files[i];
        out += "\nIndex file " + std::to_string(i + 1) + " of " + std::to_string(r.files.size()) + ": " + f.path + "\n";
        out += "  Lines: " + std::to_string(f.lines) + ", documents: " + std::to_string(f.documents);
        if (f.documents > 0)
            out += " (DOCID " + std::to_string(f.firstDocId) + " to " + std::to_string(f.lastDocId) + ")";
        out += ", encoding: " + (f.encoding.empty() ? std::string("unknown") : f.encoding) +
               (f.converted ? "" : "; not converted") + "\n";
        for (size_t kind = 0; kind < kCheckKindCount; ++kind) {
            const CheckFindings& found = f.findings[kind];
            out += std::string("  ") + kKinds[kind].label + ": " + std::to_string(found.count) + "\n";
            for (const CheckExample& example : found.examples)
                out += "    " + (example.line > 0 ? "line " + std::to_string(example.line) + ": " : std::string()) +
                       exampleText(example) + "\n";
            if (found.count > static_cast<long>(found.examples.size()))
                out +=
                    "    ... and " + std::to_string(found.count - static_cast<long>(found.examples.size())) + " more\n";
        }
    }
    out += "\n" + changesLine(r);
    const long blocking = r.blockingCount();
    out += blocking == 0 ? "Result: the conversion would run without a question or error.\n"
                         : "Result: the conversion would meet " + std::to_string(blocking) +
                               (blocking == 1 ? " question or error.\n" : " questions or errors.\n");
    return out;
}

std::string checkReportJson(const CheckReport& r)
{
    using Json = nlohmann::ordered_json;
    const auto messageJson = [](const CheckMessage& m) {
        return Json{
            {"caption", m.caption}, {"text", m.text}, {"answer", m.answer}, {"question", m.question}, {"stop", m.stop}};
    };
    Json files = Json::array();
    for (const IndexFileCheck& f : r.files) {
        Json file = {{"path", f.path},           {"encoding", f.encoding},     {"lines", f.lines},
                     {"documents", f.documents}, {"firstDocId", f.firstDocId}, {"lastDocId", f.lastDocId},
                     {"converted", f.converted}};
        for (size_t kind = 0; kind < kCheckKindCount; ++kind) {
            const CheckFindings& found = f.findings[kind];
            Json examples = Json::array();
            for (const CheckExample& example : found.examples)
                examples.push_back({{"line", example.line}, {"text", exampleText(example)}});
            file[kKinds[kind].key] = {{"count", found.count}, {"examples", std::move(examples)}};
        }
        files.push_back(std::move(file));
    }
    Json commandMessages = Json::array();
    for (const CheckMessage& m : r.commandMessages)
        commandMessages.push_back(messageJson(m));
    const Json report = {{"configFile", r.configFile},
                         {"datagroupFolder", r.datagroupFolder},
                         {"datagroupExists", r.datagroupExists},
                         {"xmlExists", r.xmlExists},
                         {"readUnlocked", r.readUnlocked},
                         {"nextDocId", r.nextDocId ? Json(*r.nextDocId) : Json(nullptr)},
                         {"lastDocIdAfter", r.lastDocIdAfter},
                         {"maxFiles", r.maxFiles ? Json(*r.maxFiles) : Json(nullptr)},
                         {"wouldPassMaximum", r.wouldPassMaximum},
                         {"allowDuplicates", r.allowDuplicates},
                         {"problems", std::move(commandMessages)},
                         {"notices", r.notices},
                         {"changes",
                          {{"imagesMoved", r.imagesMoved},
                           {"fullTextsMoved", r.fullTextsMoved},
                           {"foldersCreated", r.foldersCreated},
                           {"filesRemoved", r.filesDeleted},
                           {"filesWritten", r.filesWritten}}},
                         {"files", std::move(files)},
                         {"blocking", r.blockingCount()},
                         {"wouldRunClean", r.blockingCount() == 0}};
    // Names read as windows-1252 are UTF-8 by now; a byte that still is not becomes U+FFFD.
    return report.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace tollavar
