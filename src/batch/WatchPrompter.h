#pragma once

#include "engine/Prompter.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tollavar {

// The messages of a hot folder's Convert commands. A file that fails is tried again and again, and
// fails the same way until someone mends it: a report already given is given once, not on every try.
// Also notes when a command gave up waiting for a datagroup that another run held.
//
// While a command tries a failing file again, what it shows can be held back until the command ends,
// each piece under the index file it is about, so that a retry that fails as the last one did can be
// told in one line instead of its whole account.
class WatchPrompter : public Prompter
{
public:
    WatchPrompter(Prompter& inner, const MessageWords& words) : m_inner(inner), m_words(words) {}

    MessageAnswer ask(const Prompt& prompt) override;
    bool waitUntil(const Prompt& wait, const std::function<bool()>& ready) override
    {
        return m_inner.waitUntil(wait, ready);
    }
    Message reportFailure(const FailureReport& report) override;

    // Clears what the next command will be asked about; with `hold`, what it shows is held back (waits
    // aside, which go on at once) and each question gets the answer an unattended run gives.
    void beginCommand(bool hold = false);
    bool gaveUpWaiting() const { return m_gaveUpWaiting; }

    // The index file the messages from here on are about ("" for the command itself).
    void aboutFile(const std::string& file);
    // The words of every message about `file` since aboutFile named it, each as "caption: text".
    const std::vector<std::string>& wordsAbout(const std::string& file) const;
    // Shows `line` now, or in its turn among the held messages.
    void showInTurn(const std::string& file, std::function<void()> line);
    // Shows what was held back, but for what is about one of `passedOver`, and stops holding.
    void release(const std::set<std::string>& passedOver);

private:
    struct Held
    {
        std::string file;
        std::function<void()> show;
    };
    void note(const std::string& about, const Message& message, std::function<void()> show);

    Prompter& m_inner;
    const MessageWords& m_words;
    std::set<std::string> m_reported;
    std::map<std::string, Message> m_failuresShown; // what each failure was shown as
    bool m_gaveUpWaiting = false;
    bool m_holding = false;
    std::vector<Held> m_held;
    std::string m_file;
    std::map<std::string, std::vector<std::string>> m_wordsAbout;
};

} // namespace tollavar
