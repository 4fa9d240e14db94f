#pragma once

#include "batch/FileDialog.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace tollavar::testing {

// Answers file dialogs from a script (a path, or nothing for a cancel) and records each request.
class FakeDialog : public FileDialog
{
public:
    void choose(std::string path) { m_answers.emplace_back(std::move(path)); }
    void cancel() { m_answers.emplace_back(std::nullopt); }

    std::optional<std::string> show(const FileDialogRequest& request) override
    {
        requests.push_back(request);
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected file dialog \"" << request.title << "\"";
            return std::nullopt;
        }
        auto answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    std::vector<FileDialogRequest> requests;

private:
    std::deque<std::optional<std::string>> m_answers;
};

} // namespace tollavar::testing
