// What the three executables' command lines have in common: the help text with the list of
// formats in its middle, the version line and the two-line usage error. Options themselves
// are read with getopt_long in each main().
#pragma once

#include <getopt.h>

#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

// The long options every executable has; their own start at 256.
inline constexpr int versionOption = 255;
inline constexpr option helpLongOption{"help", no_argument, nullptr, 'h'};
inline constexpr option versionLongOption{"version", no_argument, nullptr, versionOption};
inline constexpr option endOfLongOptions{nullptr, 0, nullptr, 0};

// What getopt_long's result `code` ends the program with when it is one of the shared
// options or a mistake: -h/--help prints the help (`helpHead`, formats, `helpTail`) and
// gives 0, --version prints the version and gives 0, an unknown option or a missing value
// gives usageError's 2. Nothing for the executable's own options.
std::optional<int> statusOfSharedOption(int code, std::string_view program,
                                        std::string_view helpHead, std::string_view helpTail,
                                        char* const* argv);

// Prints `head`, the list of formats this build reads and `tail` on standard output.
void printHelp(std::string_view head, std::string_view tail);

// Prints "PROGRAM VERSION" on standard output.
void printVersion(std::string_view program);

// Prints "PROGRAM: MESSAGE" and a pointer to --help on standard error; returns the exit
// status of a wrong command line, 2.
int usageError(std::string_view program, const std::string& message);

// getopt_long's verdict on the option it could not take, as a message: "unknown option
// '--bogus'" or "option '--size' needs a value". `code` is getopt_long's result ('?' or
// ':'), argv and optind as it left them.
std::string optionMistake(int code, char* const* argv);

}  // namespace kelvo
