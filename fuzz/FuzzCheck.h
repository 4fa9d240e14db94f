#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// A broken invariant must stop the run in every build, the corpus replay under gcc included, so this
// does not rely on assert (gone under NDEBUG) nor on a sanitizer being present.
#define FUZZ_CHECK(condition, message)                                                                                 \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", __FILE__, __LINE__, message, #condition);       \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

namespace fuzzing {

// Splits off the text up to the next line feed, which the targets use to put settings ahead of the
// bytes under test; without a line feed everything is the head and the rest is empty.
inline std::string_view takeLine(std::string_view& input)
{
    const size_t end = input.find('\n');
    const std::string_view head = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    return head;
}

} // namespace fuzzing
