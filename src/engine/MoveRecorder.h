#pragma once

#include "filetools/MoveAt.h"

#include <string_view>

namespace tollavar {

// Told of every image and full-text move before it is made, so that an interrupted run can be put
// back. Paths are as composed (either separator). A record is only sure to outlive a power cut once
// makeDurable has returned: no move may be made before the durable record of it.
// A move that has to copy is told in two more steps (see CopySteps); by default nobody keeps them.
class MoveRecorder : public files::CopySteps
{
public:
    ~MoveRecorder() override = default;
    void copyBegun(const files::FileAt&, const files::FileAt&) override {}
    void copyDone(const files::FileAt&, const files::FileAt&) override {}
    virtual void beforeMove(std::string_view from, std::string_view to) = 0;
    // The move announced last did not happen (its source was missing or its destination taken).
    virtual void moveNotMade() = 0;
    // A file the user chose to replace is renamed to a hidden name beside it; made durable at once.
    virtual void beforeSetAside(std::string_view path, std::string_view aside) = 0;
    virtual void makeDurable() = 0;
};

} // namespace tollavar
