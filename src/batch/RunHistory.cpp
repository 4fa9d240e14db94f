#include "batch/RunHistory.h"

#include "batch/Base64.h"
#include "batch/StateFolder.h"
#include "filetools/FileSystem.h"
#include "filetools/LineLog.h"
#include "filetools/Windows1252.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace tollavar {

namespace {

using Json = nlohmann::ordered_json;

// How many rotated files --history looks into; appendWholeLine keeps this many by default.
constexpr int kRotatedFiles = 3;

// A name that is no UTF-8 is read as windows-1252, as the index files' text is: two such names stay
// apart, and the history shows them as they were meant.
std::string readable(const std::string& text)
{
    return utf8::isValid(text) ? text : cp1252::decode(text);
}

// A path the record must give back exactly: readable under `key`, and its bytes under `key` + "Bytes"
// when they are no UTF-8.
void putPath(Json& object, const std::string& key, const std::string& path)
{
    object[key] = readable(path);
    if (!utf8::isValid(path))
        object[key + "Bytes"] = base64Encode(path);
}

std::string pathField(const Json& object, const std::string& key)
{
    if (const auto bytes = object.find(key + "Bytes"); bytes != object.end() && bytes->is_string())
        if (std::optional<std::string> raw = base64Decode(bytes->get<std::string>()))
            return *raw;
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? std::string() : found->get<std::string>();
}

std::vector<std::string> readable(const std::vector<std::string>& texts)
{
    std::vector<std::string> out;
    for (const std::string& text : texts)
        out.push_back(readable(text));
    return out;
}

Json factsJson(const IndexFileRecord& file)
{
    const IndexFileFacts& f = file.facts;
    Json questions = Json::array();
    for (const AnsweredQuestion& q : file.questions)
        questions.push_back({{"caption", q.caption}, {"text", readable(q.text)}, {"answer", q.answer}});
    Json facts = Json::object();
    putPath(facts, "path", file.path);
    facts.update(Json{{"size", f.bytes},
                      {"fingerprint", f.fingerprint.empty() ? Json(nullptr) : Json("xxh3:" + f.fingerprint)},
                      {"converted", file.converted},
                      {"documents", f.documentsAdded},
                      {"firstDocId", f.documentsAdded > 0 ? Json(f.firstDocId) : Json(nullptr)},
                      {"lastDocId", f.documentsAdded > 0 ? Json(f.lastDocId) : Json(nullptr)},
                      {"imagesMoved", f.imagesMoved},
                      {"fullTextsMoved", f.fullTextsMoved},
                      {"linesSkipped", f.linesSkipped},
                      {"questions", std::move(questions)}});
    return facts;
}

template <typename T> T field(const Json& object, const char* name, T fallback)
{
    const auto found = object.find(name);
    if (found == object.end() || found->is_null())
        return fallback;
    return found->get<T>();
}

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    if (!files::fileExists(path))
        return lines;
    const std::string bytes = files::readAll(path);
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            end = bytes.size();
        if (end > pos)
            lines.emplace_back(bytes, pos, end - pos);
        pos = end + 1;
    }
    return lines;
}

std::string fit(std::string text, size_t width)
{
    if (text.size() > width)
        text = "..." + text.substr(text.size() - (width - 3));
    text.resize(width, ' ');
    return text;
}

} // namespace

std::string runRecordJson(const RunRecord& r)
{
    Json files = Json::array();
    for (const IndexFileRecord& file : r.files)
        files.push_back(factsJson(file));
    Json record = {{"started", r.started}, {"ended", r.ended}, {"user", r.user}, {"host", r.host}, {"mode", r.mode}};
    putPath(record, "configFile", r.configFile);
    putPath(record, "datagroupFolder", r.datagroupFolder);
    record.update(Json{{"datagroupFull", r.datagroupFull},
                       {"recoveryRan", r.recoveryRan},
                       {"files", std::move(files)},
                       {"documents", r.documentsAdded()},
                       {"outcome", r.outcome},
                       {"exitStatus", r.exitStatus},
                       {"seconds", r.seconds},
                       {"notices", readable(r.notices)},
                       {"failure", readable(r.failure)}});
    return record.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<RunRecord> runRecordFromJson(std::string_view line)
{
    const Json json = Json::parse(line, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("started") || !json.contains("outcome"))
        return std::nullopt;
    try {
        RunRecord r;
        r.started = field<std::string>(json, "started", "");
        r.ended = field<std::string>(json, "ended", "");
        r.user = field<std::string>(json, "user", "");
        r.host = field<std::string>(json, "host", "");
        r.mode = field<std::string>(json, "mode", "");
        r.configFile = pathField(json, "configFile");
        r.datagroupFolder = pathField(json, "datagroupFolder");
        r.datagroupFull = field<bool>(json, "datagroupFull", false);
        r.recoveryRan = field<bool>(json, "recoveryRan", false);
        r.outcome = field<std::string>(json, "outcome", "");
        r.exitStatus = field<int>(json, "exitStatus", 0);
        r.seconds = field<double>(json, "seconds", 0);
        r.failure = field<std::string>(json, "failure", "");
        r.notices = field<std::vector<std::string>>(json, "notices", {});
        for (const Json& f : json.value("files", Json::array())) {
            IndexFileRecord file;
            file.path = pathField(f, "path");
            file.converted = field<bool>(f, "converted", false);
            file.facts.bytes = field<long long>(f, "size", -1);
            file.facts.fingerprint = field<std::string>(f, "fingerprint", "");
            if (file.facts.fingerprint.starts_with("xxh3:"))
                file.facts.fingerprint.erase(0, 5);
            file.facts.documentsAdded = field<long>(f, "documents", 0);
            file.facts.firstDocId = field<long>(f, "firstDocId", 0);
            file.facts.lastDocId = field<long>(f, "lastDocId", 0);
            file.facts.imagesMoved = field<long>(f, "imagesMoved", 0);
            file.facts.fullTextsMoved = field<long>(f, "fullTextsMoved", 0);
            file.facts.linesSkipped = field<long>(f, "linesSkipped", 0);
            for (const Json& q : f.value("questions", Json::array()))
                file.questions.push_back(AnsweredQuestion{field<std::string>(q, "caption", ""),
                                                          field<std::string>(q, "text", ""),
                                                          field<std::string>(q, "answer", "")});
            r.files.push_back(std::move(file));
        }
        return r;
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

std::string defaultRunHistoryPath()
{
    return inStateFolder("runs.jsonl");
}

RunHistoryTail readRunHistory(const std::string& path, size_t count)
{
    RunHistoryTail tail;
    std::vector<RunRecord> newestFirst;
    for (int number = 0; number <= kRotatedFiles && newestFirst.size() < count; ++number) {
        const std::vector<std::string> lines = readLines(number == 0 ? path : files::rotatedLogPath(path, number));
        for (auto line = lines.rbegin(); line != lines.rend() && newestFirst.size() < count; ++line) {
            if (std::optional<RunRecord> record = runRecordFromJson(*line))
                newestFirst.push_back(std::move(*record));
            else
                ++tail.skipped;
        }
    }
    tail.records.assign(std::make_move_iterator(newestFirst.rbegin()), std::make_move_iterator(newestFirst.rend()));
    return tail;
}

std::string runHistoryTable(const std::vector<RunRecord>& records)
{
    std::string out = fit("When", 25) + " " + fit("Configuration", 28) + " " + fit("Files", 5) + " " +
                      fit("Documents", 9) + " " + fit("Datagroup", 28) + " Outcome\n";
    for (const RunRecord& r : records) {
        std::string outcome = r.outcome;
        if (r.datagroupFull)
            outcome += ", datagroup full";
        if (r.recoveryRan)
            outcome += ", recovered first";
        std::string files = std::to_string(r.files.size());
        std::string documents = std::to_string(r.documentsAdded());
        out += fit(r.started, 25) + " " + fit(readable(r.configFile), 28) + " " + fit(files, 5) + " " +
               fit(documents, 9) + " " + fit(readable(r.datagroupFolder), 28) + " " + outcome + "\n";
    }
    return out;
}

} // namespace tollavar
