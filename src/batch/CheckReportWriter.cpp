#include "batch/CheckReportWriter.h"

#include "batch/BatchCheck.h"
#include "filetools/Windows1252.h"

#include <cstdio>

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

void appendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    size_t pos = 0;
    while (pos < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++pos;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++pos;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++pos;
        } else {
            const size_t start = pos;
            if (utf8::next(text, pos) == 0xFFFFFFFF) {
                out += "\\ufffd";
                pos = start + 1;
            } else {
                out.append(text.substr(start, pos - start));
            }
        }
    }
    out += '"';
}

void appendJsonStrings(std::string& out, const std::vector<std::string>& texts)
{
    out += '[';
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i)
            out += ',';
        appendJsonString(out, texts[i]);
    }
    out += ']';
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
    const auto number = [](long value) { return std::to_string(value); };
    const auto boolean = [](bool value) { return std::string(value ? "true" : "false"); };
    std::string out = "{\"configFile\":";
    appendJsonString(out, r.configFile);
    out += ",\"datagroupFolder\":";
    appendJsonString(out, r.datagroupFolder);
    out += ",\"datagroupExists\":" + boolean(r.datagroupExists);
    out += ",\"xmlExists\":" + boolean(r.xmlExists);
    out += ",\"xmlExtensible\":" + boolean(r.xmlExtensible);
    out += ",\"nextDocId\":" + number(r.nextDocId);
    out += ",\"lastDocIdAfter\":" + number(r.lastDocIdAfter);
    out += ",\"maxFiles\":" + (r.maxFiles ? number(*r.maxFiles) : std::string("null"));
    out += ",\"wouldPassMaximum\":" + boolean(r.wouldPassMaximum());
    out += ",\"allowDuplicates\":" + boolean(r.allowDuplicates);
    out += ",\"problems\":";
    appendJsonStrings(out, r.problems);
    out += ",\"files\":[";
    for (size_t i = 0; i < r.files.size(); ++i) {
        const IndexFileCheck& f = r.files[i];
        out += i ? ",{" : "{";
        out += "\"path\":";
        appendJsonString(out, f.path);
        out += ",\"encoding\":";
        appendJsonString(out, f.encoding);
        out += ",\"lines\":" + number(f.lines) + ",\"documents\":" + number(f.documents);
        out += ",\"firstDocId\":" + number(f.firstDocId) + ",\"lastDocId\":" + number(f.lastDocId);
        out += ",\"problems\":";
        appendJsonStrings(out, f.problems);
        for (size_t kind = 0; kind < kCheckKindCount; ++kind) {
            const CheckFindings& found = f.findings[kind];
            out += std::string(",\"") + kKinds[kind].key + "\":{\"count\":" + number(found.count) + ",\"examples\":[";
            for (size_t e = 0; e < found.examples.size(); ++e) {
                out += e ? ",{\"line\":" : "{\"line\":";
                out += number(found.examples[e].line) + ",\"text\":";
                appendJsonString(out, found.examples[e].text);
                out += '}';
            }
            out += "]}";
        }
        out += '}';
    }
    out += "],\"blocking\":" + number(r.blockingCount());
    out += ",\"wouldRunClean\":" + boolean(r.blockingCount() == 0) + "}\n";
    return out;
}

} // namespace tollavar
