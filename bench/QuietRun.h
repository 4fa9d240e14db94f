#pragma once

// What a benchmark's conversions and commands talk to instead of a person and a window.

#include "batch/FileDialog.h"
#include "engine/ConversionHost.h"
#include "ui/ShowingPrompter.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace tollavar::bench {

// Answers every message as a run with nobody behind it would (OK, or No to a question). A benchmark
// whose figures mean nothing once a message comes up stops at the first instead.
class BenchPrompter : public ShowingPrompter
{
public:
    enum class OnMessage
    {
        Answer, // silently
        Report, // and says so on `out`
        Stop,   // the run was not the one measured: exit
    };
    explicit BenchPrompter(OnMessage onMessage = OnMessage::Answer, std::FILE* out = stderr)
        : m_onMessage(onMessage), m_out(out)
    {
    }

    MessageAnswer show(const Message& m) override
    {
        if (m_onMessage == OnMessage::Stop) {
            std::fprintf(stderr, "unexpected question: %s: %s\n", m.caption.c_str(), m.text.c_str());
            std::exit(1);
        }
        if (m_onMessage == OnMessage::Report) {
            std::string text = m.text.substr(0, 160);
            for (char& c : text)
                c = c == '\r' ? '|' : c;
            std::fprintf(m_out, "    message \"%s\": %s\n", m.caption.c_str(), text.c_str());
        }
        return m.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
    }

private:
    OnMessage m_onMessage;
    std::FILE* m_out;
};

struct QuietHost : ConversionHost
{
    void setStatusPanel(int, std::string_view) override {}
    void processPendingEvents() override {}
};

struct NoDialog : FileDialog
{
    std::optional<std::string> show(const FileDialogRequest&) override { return std::nullopt; }
};

} // namespace tollavar::bench
