#include "engine/JournalReader.h"

#include "filetools/Failure.h"

namespace tollavar {

using namespace journal;

namespace {

std::vector<std::string_view> splitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? line.npos : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

class Reader
{
public:
    Reader(std::string_view text, const std::string& path) : m_text(text), m_path(path) {}

    JournalContents read()
    {
        if (!m_text.starts_with(kMagic))
            throw damaged("it is not a journal of this program");
        size_t pos = kMagic.size();
        bool headDone = false;
        while (!headDone) {
            const size_t newline = m_text.find('\n', pos);
            if (newline == std::string_view::npos)
                throw damaged("it is cut short");
            const size_t lineStart = pos;
            pos = newline + 1;
            headDone = headLine(splitTabs(m_text.substr(lineStart, newline - lineStart)), lineStart);
        }
        while (pos < m_text.size()) {
            const size_t newline = m_text.find('\n', pos);
            if (newline == std::string_view::npos || !record(m_text.substr(pos, newline - pos)))
                break; // written ahead of what it describes: the cut part never happened
            pos = newline + 1;
        }
        return std::move(m_contents);
    }

private:
    Failure damaged(const std::string& why) const
    {
        return Failure(ErrorCode::PathFileAccess, "Recovery Journal",
                       "The recovery journal " + m_path + " cannot be used (" + why + ")");
    }

    std::string text(const std::vector<std::string_view>& f, size_t i) const
    {
        auto value = i < f.size() ? unescape(f[i]) : std::nullopt;
        if (!value)
            throw damaged("its head is damaged");
        return *value;
    }

    template <typename T> T need(const std::optional<T>& value) const
    {
        if (!value)
            throw damaged("its head is damaged");
        return *value;
    }

    bool headLine(const std::vector<std::string_view>& f, size_t lineStart)
    {
        JournalContents& c = m_contents;
        const std::string_view name = f[0];
        if (name == "folder") {
            c.datagroupFolder = text(f, 1);
        } else if (name == "cwd") {
            c.workingFolder = text(f, 1);
        } else if (name == "index") {
            c.indexFile = text(f, 1);
            if (f.size() == 6) {
                c.indexIdentity = FileIdentity{need(unsignedNumber(f[2])), need(unsignedNumber(f[3])),
                                               need(signedNumber(f[4])), need(signedNumber(f[5]))};
            } else if (f.size() != 2) {
                throw damaged("its head is damaged");
            }
        } else if (name == "images") {
            c.imageFolder = text(f, 1);
        } else if (name == "xml") {
            c.xmlFile = text(f, 1);
        } else if (name == "original") {
            if (f.size() == 3)
                c.original = Fingerprint{need(unsignedNumber(f[1])), need(unsignedNumber(f[2], 16))};
            else if (f.size() != 2 || f[1] != "none")
                throw damaged("its head is damaged");
        } else if (name == "remove") {
            c.removeProcessed = text(f, 1) == "1";
        } else if (name == "config") {
            c.configFile = text(f, 1);
        } else if (name == "host") {
            c.writer.host = text(f, 1);
        } else if (name == "boot") {
            c.writer.bootId = text(f, 1);
        } else if (name == "process" && f.size() == 3) {
            c.writer.pid = need(signedNumber(f[1]));
            c.writer.startTicks = need(unsignedNumber(f[2]));
        } else if (name == "head") {
            if (f.size() != 2 || f[1] != hex(checksum(m_text.data(), lineStart), 8))
                throw damaged("its head is damaged");
            if (c.datagroupFolder.empty() || c.indexFile.empty() || c.xmlFile.empty() || c.imageFolder.empty())
                throw damaged("its head is incomplete");
            return true;
        } else {
            throw damaged("its head is damaged");
        }
        return false;
    }

    // False for a record that is cut or damaged.
    bool record(std::string_view line)
    {
        const size_t lastTab = line.rfind('\t');
        if (lastTab == std::string_view::npos || line.substr(lastTab + 1) != hex(checksum(line.data(), lastTab), 8))
            return false;
        const std::vector<std::string_view> f = splitTabs(line.substr(0, lastTab));
        JournalContents& c = m_contents;
        const bool afterMove = m_lastWasMove;
        m_lastWasMove = false;
        if (f[0].size() != 1)
            return false;
        switch (f[0][0]) {
        case kMove: {
            if (f.size() != 5)
                return false;
            const auto fromShared = unsignedNumber(f[1]);
            const auto toShared = unsignedNumber(f[3]);
            const auto fromRest = unescape(f[2]);
            const auto toRest = unescape(f[4]);
            if (!fromShared || !toShared || !fromRest || !toRest || *fromShared > m_previousFrom.size() ||
                *toShared > m_previousTo.size())
                return false;
            m_previousFrom = m_previousFrom.substr(0, *fromShared) + *fromRest;
            m_previousTo = m_previousTo.substr(0, *toShared) + *toRest;
            c.steps.push_back({false, m_previousFrom, m_previousTo});
            m_lastWasMove = true;
            return true;
        }
        case kNotMade:
            if (f.size() != 1 || !afterMove)
                return false;
            c.steps.pop_back();
            return true;
        case kSetAside: {
            const auto path = f.size() == 3 ? unescape(f[1]) : std::nullopt;
            const auto aside = f.size() == 3 ? unescape(f[2]) : std::nullopt;
            if (!path || !aside)
                return false;
            c.steps.push_back({true, *path, *aside});
            return true;
        }
        case kSaving: {
            if (f.size() != 5)
                return false;
            const auto last = signedNumber(f[1]);
            const auto size = unsignedNumber(f[2]);
            const auto hash = unsignedNumber(f[3], 16);
            const auto target = unescape(f[4]);
            if (!last || !size || !hash || !target)
                return false;
            c.saving = true;
            c.lastDocId = static_cast<long>(*last);
            c.saved = Fingerprint{*size, *hash};
            c.saveTarget = *target;
            return true;
        }
        case kKeptOriginal:
            if (f.size() != 1)
                return false;
            c.keptOriginal = true;
            return true;
        case kFailed: {
            const auto date = f.size() == 2 ? unescape(f[1]) : std::nullopt;
            if (!date)
                return false;
            c.failedOn = *date;
            return true;
        }
        case kCopyBegun:
        case kCopyDone: {
            // Between a move's record and its `N`: the copy belongs to the move, and so does the `N`.
            m_lastWasMove = afterMove;
            const auto to = f.size() == 2 ? unescape(f[1]) : std::nullopt;
            if (!to)
                return false;
            for (auto step = c.steps.rbegin(); step != c.steps.rend(); ++step) {
                if (!step->setAside && step->to == *to) {
                    (f[0][0] == kCopyBegun ? step->copyBegun : step->copyDone) = true;
                    break;
                }
            }
            return true;
        }
        case kEnded:
            if (f.size() != 1)
                return false;
            c.commandEnded = true;
            return true;
        default:
            return false;
        }
    }

    std::string_view m_text;
    const std::string& m_path;
    JournalContents m_contents;
    bool m_lastWasMove = false;
    std::string m_previousFrom;
    std::string m_previousTo;
};

} // namespace

JournalContents parseRunJournal(std::string_view bytes, const std::string& path)
{
    return Reader(bytes, path).read();
}

} // namespace tollavar
