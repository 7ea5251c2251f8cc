#include "platform/ModelIO/USD/USDPackage.h"

#include <cstring>

#include "platform/Foundation/Text.h"

namespace kelvo::usd {

namespace {

// The entry name of `file` inside the package, or nothing when it is not inside.
std::optional<std::string> entryName(const Package& package, const std::filesystem::path& file) {
    const std::string prefix = package.path.string() + "/";
    const std::string name = file.string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return {};
    return name.substr(prefix.size());
}

bool isLayerName(std::string_view name) {
    const std::string_view extension = name.substr(name.rfind('.') == std::string_view::npos
                                                       ? name.size()
                                                       : name.rfind('.') + 1);
    return equalsIgnoringASCIICase(extension, "usdc") || equalsIgnoringASCIICase(extension, "usda") ||
           equalsIgnoringASCIICase(extension, "usd");
}

}  // namespace

bool looksLikePackage(ByteSpan bytes) {
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "PK\x03\x04", 4) == 0;
}

std::optional<Package> openPackage(const std::filesystem::path& path, ByteBuffer bytes,
                                   std::string* reason) {
    Package package;
    package.path = path.lexically_normal();
    try {
        package.entries = ZIPReader::readCentralDirectory(bytes);
    } catch (const ZIPReader::ZIPError&) {
        *reason = "the USDZ package is not a readable ZIP archive";
        return {};
    }
    if (package.entries.empty()) {
        *reason = "the USDZ package holds no files";
        return {};
    }
    if (!isLayerName(package.entries.front().name)) {
        *reason = "the first file of the USDZ package, \"" + package.entries.front().name +
                  "\", is not a USD layer";
        return {};
    }
    package.data = std::move(bytes);
    return package;
}

std::filesystem::path rootLayerPath(const Package& package) {
    return package.path / package.entries.front().name;
}

bool insidePackage(const Package& package, const std::filesystem::path& file) {
    return entryName(package, file).has_value();
}

PackageFile readPackageFile(const Package& package, const std::filesystem::path& referringFile,
                            std::string_view reference, std::uint64_t sizeLimit) {
    PackageFile out;
    const std::string quoted = "\"" + std::string(reference) + "\"";
    std::optional<std::string> from = entryName(package, referringFile);
    if (!from) {
        out.reason = quoted + " is named from outside the package";
        return out;
    }
    std::string written(reference);
    for (char& c : written) {
        if (c == '\\') c = '/';
    }
    if (written.empty() || written.front() == '/' || written.find(':') != std::string::npos) {
        out.reason = quoted + " is refused: inside a package only relative paths are followed";
        return out;
    }
    // The referring entry's folder, then the reference, part by part.
    std::vector<std::string> parts;
    auto push = [&](std::string_view path, bool lastIsFile) -> bool {
        std::size_t at = 0;
        while (at <= path.size()) {
            std::size_t slash = path.find('/', at);
            if (slash == std::string_view::npos) slash = path.size();
            const std::string_view part = path.substr(at, slash - at);
            at = slash + 1;
            if (lastIsFile && slash == path.size()) break;
            if (part == "..") {
                if (parts.empty()) return false;
                parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.emplace_back(part);
            }
        }
        return true;
    };
    push(*from, true);
    if (!push(written, false) || parts.empty()) {
        out.reason = quoted + " is refused: it leads outside the package";
        return out;
    }
    std::string name;
    for (const std::string& part : parts)
        name.append(name.empty() ? "" : "/").append(part);
    const CentralEntry* found = nullptr;
    for (const CentralEntry& e : package.entries) {
        if (e.name == name) {
            found = &e;
            break;
        }
        if (!found && equalsIgnoringASCIICase(e.name, name)) found = &e;
    }
    if (!found) {
        out.reason = quoted + " is not in the package";
        return out;
    }
    if (ZIPReader::extractionCapacity(*found) > static_cast<std::int64_t>(sizeLimit)) {
        out.reason = quoted + " is larger than " + std::to_string(sizeLimit >> 20) + " MiB";
        return out;
    }
    try {
        out.contents = ZIPReader::extractEntry(*found, package.data);
    } catch (const ZIPReader::ZIPError& e) {
        out.reason = quoted + " cannot be read from the package (" + e.what() + ")";
        return out;
    }
    out.path = package.path / found->name;
    return out;
}

}  // namespace kelvo::usd
