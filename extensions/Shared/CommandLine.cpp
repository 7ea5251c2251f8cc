#include "extensions/Shared/CommandLine.h"

#include <cstdio>

#include "extensions/Shared/FileFormats.h"

namespace kelvo {

namespace {

void write(std::string_view text, std::FILE* to) {
    std::fwrite(text.data(), 1, text.size(), to);
}

}  // namespace

void printHelp(std::string_view head, std::string_view tail) {
    write(head, stdout);
    write(formatHelp, stdout);
    write(tail, stdout);
}

void printVersion(std::string_view program) {
    write(program, stdout);
    std::printf(" %s\n", KELVO_VERSION);
}

int usageError(std::string_view program, const std::string& message) {
    const std::string name(program);
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", name.c_str(),
                 message.c_str(), name.c_str());
    return 2;
}

std::optional<int> statusOfSharedOption(int code, std::string_view program,
                                        std::string_view helpHead, std::string_view helpTail,
                                        char* const* argv) {
    switch (code) {
        case 'h':
            printHelp(helpHead, helpTail);
            return 0;
        case versionOption:
            printVersion(program);
            return 0;
        case '?':
        case ':':
            return usageError(program, optionMistake(code, argv));
        default:
            return std::nullopt;
    }
}

std::string optionMistake(int code, char* const* argv) {
    // getopt_long has moved past the argument it stopped at; a short option inside a group
    // ("-xs") is named by optopt alone.
    const std::string argument = optind > 0 ? argv[optind - 1] : "";
    std::string option = argument;
    if (!argument.starts_with("--") && optopt != 0) option = std::string("-") + char(optopt);
    if (const size_t eq = option.find('='); eq != std::string::npos) option.resize(eq);
    if (code == ':') return "option '" + option + "' needs a value";
    return "unknown option '" + option + "'";
}

}  // namespace kelvo
