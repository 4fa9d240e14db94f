#pragma once

#include "batch/RunRecord.h"

#include <chrono>
#include <memory>
#include <string>

namespace prometheus {
class Registry;
class Counter;
class Gauge;
template <typename T> class Family;
} // namespace prometheus

namespace tollavar {

struct ConversionSettings;

// What a site's monitoring scrapes about the conversions of one configuration: a file in the text
// format of a textfile collector, every figure labelled with the configuration. Takes each Convert
// command's record (and hands it on to `next`); write() replaces the file whole, under a temporary
// name beside it first, so that a collector never reads half of it. The counters go on from what the
// file held for the same configuration, so that runs started one by one (cron, a timer) add up, and a
// failed run keeps the time of the last success.
class RunMetrics : public RunRecordSink
{
public:
    RunMetrics(std::string path, const ConversionSettings& settings, const std::string& configFile);
    ~RunMetrics() override;
    RunMetrics(const RunMetrics&) = delete;
    RunMetrics& operator=(const RunMetrics&) = delete;

    void forwardTo(RunRecordSink* next) { m_next = next; }
    void recordRun(const RunRecord& record) override;
    // Index files that wait to be converted, and how long the oldest of them has waited.
    void waiting(long files, std::chrono::seconds oldest);
    // For a run that ends after one command: what it left unconverted waits for the next.
    void waitingAfter(const RunRecord& record);
    // The file as it stands now. Throws Failure when it cannot be written.
    void write();
    const std::string& path() const { return m_path; }

private:
    void carryOverEarlierFigures();
    // The last DOCID of the datagroup the settings name now, from the record when the command wrote
    // into it, else from its DATAGRP.XML.
    void updateDatagroup(const RunRecord* record);
    prometheus::Gauge& gauge(prometheus::Family<prometheus::Gauge>* family);

    std::string m_path;
    const ConversionSettings& m_settings;
    const std::string& m_configFile;
    RunRecordSink* m_next = nullptr;
    std::shared_ptr<prometheus::Registry> m_registry;
    prometheus::Family<prometheus::Gauge>* m_lastSuccess;
    prometheus::Family<prometheus::Counter>* m_commands;
    prometheus::Family<prometheus::Counter>* m_documents;
    prometheus::Family<prometheus::Gauge>* m_waiting;
    prometheus::Family<prometheus::Gauge>* m_oldestWaiting;
    prometheus::Family<prometheus::Gauge>* m_datagroupNumber;
    prometheus::Family<prometheus::Gauge>* m_datagroupDocuments;
    prometheus::Family<prometheus::Gauge>* m_maxDocuments;
    std::string m_datagroupFolder; // whose documents m_datagroupDocuments holds
};

} // namespace tollavar
