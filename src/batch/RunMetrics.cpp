#include "batch/RunMetrics.h"

#include "batch/ConvertCommand.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "engine/NumberText.h"
#include "filetools/Failure.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>

namespace tollavar {

namespace {

constexpr const char* kLastSuccess = "tollavar_last_success_timestamp_seconds";
constexpr const char* kCommands = "tollavar_commands_total";
constexpr const char* kDocuments = "tollavar_documents_total";

// A sample line of the text format: its name, labels and value. Comments and anything unreadable give
// nothing.
struct Sample
{
    std::string name;
    std::map<std::string, std::string> labels;
    double value = 0;
};

std::optional<Sample> parseSample(std::string_view line)
{
    if (line.empty() || line.front() == '#')
        return std::nullopt;
    Sample sample;
    size_t at = line.find_first_of("{ ");
    if (at == std::string_view::npos)
        return std::nullopt;
    sample.name = std::string(line.substr(0, at));
    if (line[at] == '{') {
        ++at;
        while (at < line.size() && line[at] != '}') {
            const size_t equals = line.find("=\"", at);
            if (equals == std::string_view::npos)
                return std::nullopt;
            const std::string key(line.substr(at, equals - at));
            std::string value;
            at = equals + 2;
            for (; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] == '\\' && at + 1 < line.size()) {
                    ++at;
                    value += line[at] == 'n' ? '\n' : line[at];
                } else {
                    value += line[at];
                }
            }
            if (at >= line.size())
                return std::nullopt;
            sample.labels[key] = value;
            ++at; // the closing quote
            if (at < line.size() && line[at] == ',')
                ++at;
        }
        if (at >= line.size())
            return std::nullopt;
        ++at; // the closing brace
    }
    const std::string_view rest = line.substr(std::min(line.size(), at + 1));
    const std::string number(rest.substr(0, rest.find(' ')));
    char* end = nullptr;
    sample.value = std::strtod(number.c_str(), &end);
    if (number.empty() || end != number.c_str() + number.size())
        return std::nullopt;
    return sample;
}

std::string outcomeLabel(std::string outcome)
{
    std::replace(outcome.begin(), outcome.end(), ' ', '_');
    return outcome;
}

double secondsSinceEpoch()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec);
}

} // namespace

RunMetrics::RunMetrics(std::string path, const ConversionSettings& settings, const std::string& configFile)
    : m_path(std::move(path)), m_settings(settings), m_configFile(configFile),
      m_registry(std::make_shared<prometheus::Registry>())
{
    using prometheus::BuildCounter;
    using prometheus::BuildGauge;
    prometheus::Registry& r = *m_registry;
    m_lastSuccess = &BuildGauge()
                         .Name(kLastSuccess)
                         .Help("When a Convert command last ended with status 0 (Unix time)")
                         .Register(r);
    m_commands = &BuildCounter().Name(kCommands).Help("Convert commands run, by their outcome").Register(r);
    m_documents = &BuildCounter().Name(kDocuments).Help("Documents added to datagroups").Register(r);
    m_waiting =
        &BuildGauge().Name("tollavar_index_files_waiting").Help("Index files waiting to be converted").Register(r);
    m_oldestWaiting = &BuildGauge()
                           .Name("tollavar_oldest_waiting_seconds")
                           .Help("How long the index file that has waited longest was last written ago")
                           .Register(r);
    m_datagroupNumber =
        &BuildGauge().Name("tollavar_datagroup_number").Help("The number of the datagroup filled now").Register(r);
    m_datagroupDocuments = &BuildGauge()
                                .Name("tollavar_datagroup_documents")
                                .Help("The last document number of the datagroup filled now")
                                .Register(r);
    m_maxDocuments = &BuildGauge()
                          .Name("tollavar_datagroup_max_documents")
                          .Help("Documents a datagroup holds before the next one is begun")
                          .Register(r);
    carryOverEarlierFigures();
}

RunMetrics::~RunMetrics() = default;

prometheus::Gauge& RunMetrics::gauge(prometheus::Family<prometheus::Gauge>* family)
{
    return family->Add({{"config", m_configFile}});
}

void RunMetrics::carryOverEarlierFigures()
{
    // The gauges exist from the start, so that a collector sees every figure.
    gauge(m_lastSuccess);
    m_documents->Add({{"config", m_configFile}});
    waiting(0, std::chrono::seconds(0));
    std::string earlier;
    try {
        if (files::fileExists(files::nativePath(m_path)))
            earlier = files::readAll(files::nativePath(m_path));
    } catch (const Failure&) {
        // Then the counters begin again, as after any restart.
    }
    size_t at = 0;
    while (at < earlier.size()) {
        const size_t end = std::min(earlier.find('\n', at), earlier.size());
        const std::optional<Sample> sample = parseSample(std::string_view(earlier).substr(at, end - at));
        at = end + 1;
        if (!sample || sample->value < 0)
            continue;
        const auto config = sample->labels.find("config");
        if (config == sample->labels.end() || config->second != m_configFile)
            continue;
        if (sample->name == kLastSuccess)
            gauge(m_lastSuccess).Set(sample->value);
        else if (sample->name == kDocuments)
            m_documents->Add({{"config", m_configFile}}).Increment(sample->value);
        else if (sample->name == kCommands && sample->labels.count("outcome"))
            m_commands->Add({{"config", m_configFile}, {"outcome", sample->labels.at("outcome")}})
                .Increment(sample->value);
    }
    updateDatagroup(nullptr);
}

void RunMetrics::recordRun(const RunRecord& record)
{
    m_commands->Add({{"config", m_configFile}, {"outcome", outcomeLabel(record.outcome)}}).Increment();
    m_documents->Add({{"config", m_configFile}}).Increment(static_cast<double>(record.documentsAdded()));
    if (record.exitStatus == 0 && record.outcome != "refused" && record.outcome != "stopped")
        gauge(m_lastSuccess).Set(secondsSinceEpoch());
    updateDatagroup(&record);
    if (m_next)
        m_next->recordRun(record);
}

void RunMetrics::waiting(long files, std::chrono::seconds oldest)
{
    gauge(m_waiting).Set(static_cast<double>(files));
    gauge(m_oldestWaiting).Set(static_cast<double>(oldest.count()));
}

void RunMetrics::waitingAfter(const RunRecord& record)
{
    long files = 0;
    double oldest = 0;
    const double now = secondsSinceEpoch();
    for (const IndexFileRecord& file : record.files) {
        const std::optional<struct stat> st = files::statusOf(file.path);
        if (file.converted || !st)
            continue;
        ++files;
        oldest = std::max(oldest, now - static_cast<double>(st->st_mtim.tv_sec));
    }
    gauge(m_waiting).Set(static_cast<double>(files));
    gauge(m_oldestWaiting).Set(oldest);
}

void RunMetrics::updateDatagroup(const RunRecord* record)
{
    if (const auto maximum = parseInt32(m_settings.maxDocuments))
        gauge(m_maxDocuments).Set(static_cast<double>(*maximum));
    const auto number = parseInt32(m_settings.datagroupNumber);
    if (!number)
        return;
    gauge(m_datagroupNumber).Set(static_cast<double>(*number));
    std::string folder;
    try {
        folder = datagroupFolderPath(m_settings);
    } catch (const Failure&) {
        return;
    }
    long lastDocId = 0;
    if (record && record->datagroupFolder == folder) {
        for (const IndexFileRecord& file : record->files)
            lastDocId = std::max(lastDocId, file.facts.lastDocId);
    }
    if (lastDocId == 0 && folder == m_datagroupFolder)
        return; // nothing new: what it held stands
    if (lastDocId == 0) {
        // A datagroup met for the first time (at the start, or after an advance): read once.
        try {
            const std::string xml = files::nativePath(folder) + "/DATAGRP.XML";
            const std::string bytes = files::fileExists(xml) ? files::readAll(xml) : std::string();
            if (!bytes.empty()) {
                DatagroupDocument document;
                document.parseExisting(bytes);
                lastDocId = document.locateDocuments();
            }
        } catch (const Failure&) {
            lastDocId = 0;
        }
    }
    m_datagroupFolder = folder;
    gauge(m_datagroupDocuments).Set(static_cast<double>(lastDocId));
}

void RunMetrics::write()
{
    const prometheus::TextSerializer serializer;
    files::writeFileAtomic(files::nativePath(m_path), serializer.Serialize(m_registry->Collect()));
}

} // namespace tollavar
