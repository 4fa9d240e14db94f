#pragma once

#include <string_view>

namespace tollavar {

// Told of every image and full-text move before it is made, so that an interrupted run can be put
// back. Paths are as composed (either separator).
class MoveRecorder
{
public:
    virtual ~MoveRecorder() = default;
    virtual void beforeMove(std::string_view from, std::string_view to) = 0;
    // The move announced last did not happen (its source was missing or its destination taken).
    virtual void moveNotMade() = 0;
};

} // namespace tollavar
