#include "app/CheckReportWriter.h"

#include "batch/CheckReport.h"
#include "ui/MessageTable.h"

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

// What the run waits for before it asks.
std::string waitLine(MessageKind kind, long waitSeconds)
{
    const std::string waited = kind == MessageKind::XmlInUseWait ? "the other program to close DATAGRP.XML"
                                                                 : "the other conversion into the datagroup to finish";
    return "the run would wait up to " + std::to_string(waitSeconds) + " s for " + waited + ", then ask: ";
}

// `answer` is empty for a message that asks nothing.
std::string messageLine(const std::string& caption, const std::string& text, const std::string& answer,
                        MessageKind kind = MessageKind::Plain, long waitSeconds = 0)
{
    return (waitSeconds > 0 ? waitLine(kind, waitSeconds) : std::string()) + caption + ": " + oneLine(text) +
           (answer.empty() ? "" : " [an unattended run answers " + answer + "]");
}

// Recovery's findings are told as what it would do: the check did none of it.
std::string shownText(const CheckMessage& m)
{
    return m.recovery ? foreseenRecoveryText(*m.recovery) : m.text;
}

std::string messageLine(const CheckMessage& m)
{
    return messageLine(m.caption, shownText(m), m.question ? m.answer : "", m.kind, m.waitSeconds);
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
    return messageLine(example.caption, example.text, example.answer, example.kind, example.waitSeconds);
}

// Past the stop the check answered so as to go on: its answer is not the unattended run's.
std::string pastExampleText(const CheckExample& example)
{
    return (example.waitSeconds > 0 ? waitLine(example.kind, example.waitSeconds) : std::string()) + example.caption +
           ": " + oneLine(example.text) +
           (example.answer.empty() ? "" : " [the check went on with " + example.answer + "]");
}

std::string examplesText(const CheckFindings& found, const std::string& indent, bool pastStop)
{
    std::string out;
    for (const CheckExample& example : found.examples)
        out += indent + (example.line > 0 ? "line " + std::to_string(example.line) + ": " : std::string()) +
               (pastStop ? pastExampleText(example) : exampleText(example)) + "\n";
    if (found.count > static_cast<long>(found.examples.size()))
        out += indent + "... and " + std::to_string(found.count - static_cast<long>(found.examples.size())) + " more\n";
    return out;
}

std::string stopMessage(const CheckStop& stop)
{
    return stop.caption + ": " + oneLine(stop.text);
}

// Where the run stops, for the report's closing lines.
std::string stopPlace(const CheckStop& stop)
{
    if (stop.indexFile.empty())
        return "outside the index files";
    return (stop.line > 0 ? "at line " + std::to_string(stop.line) + " of " : std::string("in ")) + stop.indexFile;
}

bool stopsIn(const CheckReport& r, const IndexFileCheck& f)
{
    return r.stop && !r.stop->indexFile.empty() && r.stop->indexFile == f.path && f.reached && !f.converted;
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
        if (f.documents > 0 && f.converted)
            out += " (DOCID " + std::to_string(f.firstDocId) + " to " + std::to_string(f.lastDocId) + ")";
        out += ", encoding: " + (f.encoding.empty() ? std::string("unknown") : f.encoding) +
               (f.converted ? ""
                : f.reached ? "; not converted"
                            : "; not reached: the run stops before it") +
               "\n";
        if (f.reached) {
            for (size_t kind = 0; kind < kCheckKindCount; ++kind) {
                const CheckFindings& found = f.findings[kind];
                out += std::string("  ") + kKinds[kind].label + ": " + std::to_string(found.count) + "\n";
                out += examplesText(found, "    ", false);
            }
        }
        if (stopsIn(r, f))
            out += "  The run stops here: " +
                   (r.stop->line > 0 ? "line " + std::to_string(r.stop->line) + ": " : std::string()) +
                   stopMessage(*r.stop) + "\n";
        long past = 0;
        for (const CheckFindings& found : f.pastStop)
            past += found.count;
        if (past > 0) {
            out += "  Found past the stop: fix these too: " + std::to_string(past) + "\n";
            for (size_t kind = 0; kind < kCheckKindCount; ++kind) {
                const CheckFindings& found = f.pastStop[kind];
                if (found.count == 0)
                    continue;
                out += std::string("    ") + kKinds[kind].label + ": " + std::to_string(found.count) + "\n";
                out += examplesText(found, "      ", true);
            }
        }
    }
    if (r.commandPastStop.count > 0) {
        out += "\nFound past the stop, outside the index files: fix these too: " +
               std::to_string(r.commandPastStop.count) + "\n";
        out += examplesText(r.commandPastStop, "  ", true);
    }
    out += "\n" + changesLine(r);
    if (r.stop)
        out += "The run stops " + stopPlace(*r.stop) + ": " + stopMessage(*r.stop) + "\n";
    const long blocking = r.blockingCount();
    out += blocking == 0 ? "Result: the conversion would run without a question or error.\n"
                         : "Result: the conversion would meet " + std::to_string(blocking) +
                               (blocking == 1 ? " question or error" : " questions or errors");
    if (blocking > 0) {
        const long past = r.pastStopCount();
        out += past == 0 ? std::string(".\n")
                         : "; past its stop the check found " + std::to_string(past) +
                               (past == 1 ? " more problem.\n" : " more problems.\n");
    }
    return out;
}

std::string checkReportJson(const CheckReport& r)
{
    using Json = nlohmann::ordered_json;
    const auto messageJson = [](const CheckMessage& m) {
        Json message{{"caption", m.caption},
                     {"text", shownText(m)},
                     {"answer", m.answer},
                     {"question", m.question},
                     {"stop", m.stop}};
        if (m.waitSeconds > 0)
            message["waitSeconds"] = m.waitSeconds;
        return message;
    };
    const auto findingsJson = [](const CheckFindings& found, bool pastStop) {
        Json examples = Json::array();
        for (const CheckExample& example : found.examples)
            examples.push_back(
                {{"line", example.line}, {"text", pastStop ? pastExampleText(example) : exampleText(example)}});
        return Json{{"count", found.count}, {"examples", std::move(examples)}};
    };
    Json files = Json::array();
    for (const IndexFileCheck& f : r.files) {
        Json file = {{"path", f.path},           {"encoding", f.encoding},     {"lines", f.lines},
                     {"documents", f.documents}, {"firstDocId", f.firstDocId}, {"lastDocId", f.lastDocId},
                     {"converted", f.converted}, {"reached", f.reached}};
        Json pastStop = Json::object();
        for (size_t kind = 0; kind < kCheckKindCount; ++kind) {
            file[kKinds[kind].key] = findingsJson(f.findings[kind], false);
            pastStop[kKinds[kind].key] = findingsJson(f.pastStop[kind], true);
        }
        file["pastStop"] = std::move(pastStop);
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
                         {"stop", r.stop ? Json{{"indexFile", r.stop->indexFile},
                                                {"line", r.stop->line},
                                                {"caption", r.stop->caption},
                                                {"text", r.stop->text}}
                                         : Json(nullptr)},
                         {"commandPastStop", findingsJson(r.commandPastStop, true)},
                         {"pastStop", r.pastStopCount()},
                         {"blocking", r.blockingCount()},
                         {"wouldRunClean", r.blockingCount() == 0}};
    // Names read as windows-1252 are UTF-8 by now; a byte that still is not becomes U+FFFD.
    return report.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace tollavar
