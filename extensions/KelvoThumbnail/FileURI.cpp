#include "extensions/KelvoThumbnail/FileURI.h"

#include <string>

#include "platform/Foundation/Text.h"

namespace kelvo {


std::optional<std::filesystem::path> localPathFromArgument(std::string_view input) {
    if (!startsWithIgnoringASCIICase(input, "file:")) return std::filesystem::path(input);
    std::string_view rest = input.substr(5);
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        const bool local =
            host.empty() || (host.size() == 9 && startsWithIgnoringASCIICase(host, "localhost"));
        if (!local) return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (rest.empty() || rest[0] != '/') return std::nullopt;
    rest = rest.substr(0, rest.find_first_of("?#"));

    std::string path;
    path.reserve(rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path.push_back(rest[i]);
            continue;
        }
        if (i + 2 >= rest.size()) return std::nullopt;
        const int high = hexDigitValue(rest[i + 1]), low = hexDigitValue(rest[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
        path.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return std::filesystem::path(path);
}

}  // namespace kelvo
