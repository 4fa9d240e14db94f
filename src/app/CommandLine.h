#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

// Splits the argument text (everything after the program's name, as one text) into arguments.
// An argument ends where a space is followed by "/" or "\", or a tab by "/"; that space or tab is
// dropped and nothing else is: quotes mean nothing here and further spaces stay in the argument.
// Slot 0 is always empty, slots 1..count hold the arguments; text past the maxArgs-th argument is
// ignored.
std::vector<std::string> splitCommandLine(std::string_view argumentText, int maxArguments = 10);

// One argument as start-up reads it. A switch ("/" or "\" first) has the second character as its
// letter, whatever follows it, and the text after the first ":" as its value; a plain argument has
// no letter and is its own value.
struct CommandArgument
{
    std::string letter; // "" for a plain argument (or a lone "/")
    std::string value;
};

// Throws a Failure when a value is a lone double quote: there is nothing left to cut.
CommandArgument readArgument(std::string_view argument);

// A text that begins with a double quote loses its first and last characters; the closing quote is
// assumed, not checked. Throws a Failure for a lone double quote.
std::string removeQuotes(std::string_view text);

} // namespace tollavar
