// format-list: turns packaging/formats.json, the one list of the file formats Kelvo knows,
// into every file that names them, so that a new format is one entry in that list.
//
//   format-list LIST fill TEMPLATE OUT [NAME=VALUE]...
//                                         copies TEMPLATE to OUT, replacing the placeholders
//                                         below and each @NAME@ by its VALUE (the thumbnailer
//                                         entry, the desktop entry, the MIME XML, the KDE
//                                         plugin's metadata, the AppStream metadata)
//   format-list LIST header OUT           the C++ header SceneLoader dispatches on and the
//                                         --help texts quote (extensions/Shared/FileFormats.h)
//   format-list LIST readme README        rewrites README's format table in place
//   format-list LIST readme README --check
//                                         exits 1 when README's table is not what the list says
//
// Outputs are written only when their content changes, so the build does not redo work.
//
// One entry of the list is one MIME type Kelvo reads (a format with two types, such as
// glTF's binary and JSON files, has two entries). Its keys:
//   name            how people call it ("STL"), for --help and the desktop entry's keywords
//   extensions      the lower-case extensions, without dot, that SceneLoader sends to `loader`
//   mimeType        the canonical MIME type (GNOME matches thumbnailers on this one exactly)
//   aliases         other names of the type that other hosts and packages use (optional)
//   loader          the SceneLoader loader that reads it (loadSTL, load3MF, ...); a new
//                   loader name becomes a FormatLoader value that SceneLoader must handle
//   registered      whether the thumbnailer and the previewer are registered for it. Only
//                   for formats whose loader exists: GNOME remembers a failed thumbnail until
//                   the file changes, and upgrading Kelvo does not retry it, so claiming a
//                   type too early leaves its files without thumbnails for good
//   description     what reads it and how, for the README and --help
//   mimeDefinition  only for types shared-mime-info lacks: Kelvo ships their definition,
//                   under the names other packages already use so that two packages never
//                   make duplicate types. Keys: comment, acronym, expandedAcronym,
//                   subClassOf (a ZIP-based type names application/zip, so archive tools
//                   stay on offer while thumbnailers match the exact type) and magic
//                   (strings at offset 0, escapes as shared-mime-info reads them). The glob
//                   comes from the extensions.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using JSON = nlohmann::json;

struct Format {
    std::string name;
    std::vector<std::string> extensions;
    std::string mimeType;
    std::vector<std::string> aliases;
    std::string loader;
    bool registered = false;
    std::string description;
    JSON mimeDefinition;  // null when shared-mime-info defines the type
};

[[noreturn]] void fail(const std::string& message) {
    throw std::runtime_error(message);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(path + ": cannot be read");
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeIfChanged(const std::string& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (in && std::string(std::istreambuf_iterator<char>(in), {}) == text) return;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) fail(path + ": cannot be written");
}

bool isLowerASCIIWord(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

// Reads and checks the list: a mistake in it stops the build with a message naming the entry.
std::vector<Format> readFormats(const std::string& path) {
    JSON list;
    try {
        list = JSON::parse(readFile(path));
    } catch (const JSON::parse_error& e) {
        fail(path + ": " + e.what());
    }
    if (!list.is_array()) fail(path + ": not a JSON array");
    static const std::set<std::string> knownKeys = {"name",        "extensions",    "mimeType",
                                                    "aliases",     "loader",        "registered",
                                                    "description", "mimeDefinition"};
    static const std::set<std::string> knownDefinitionKeys = {
        "comment", "acronym", "expandedAcronym", "subClassOf", "magic"};
    std::vector<Format> formats;
    std::set<std::string> extensions, types;
    for (const JSON& entry : list) {
        Format f;
        f.name = entry.value("name", "");
        const std::string where = path + ": entry " + (f.name.empty() ? "without name" : f.name);
        for (const auto& [key, value] : entry.items()) {
            if (!knownKeys.contains(key)) fail(where + ": unknown key '" + key + "'");
        }
        try {
            f.extensions = entry.at("extensions").get<std::vector<std::string>>();
            f.mimeType = entry.at("mimeType").get<std::string>();
            f.aliases = entry.value("aliases", std::vector<std::string>{});
            f.loader = entry.at("loader").get<std::string>();
            f.registered = entry.at("registered").get<bool>();
            f.description = entry.at("description").get<std::string>();
        } catch (const JSON::exception& e) {
            fail(where + ": " + e.what());
        }
        f.mimeDefinition = entry.value("mimeDefinition", JSON());
        if (f.name.empty() || f.extensions.empty() || f.mimeType.empty() || f.description.empty())
            fail(where + ": name, extensions, mimeType and description must not be empty");
        if (f.loader.size() < 5 || f.loader.rfind("load", 0) != 0)
            fail(where + ": loader must name a SceneLoader loader such as loadSTL");
        for (const std::string& e : f.extensions) {
            if (!isLowerASCIIWord(e)) fail(where + ": extension '" + e + "' is not lower-case");
            if (!extensions.insert(e).second)
                fail(where + ": extension '" + e + "' is listed twice");
        }
        for (const std::string& t : f.aliases) {
            if (!types.insert(t).second) fail(where + ": type " + t + " is listed twice");
        }
        if (!types.insert(f.mimeType).second)
            fail(where + ": type " + f.mimeType + " is listed twice");
        if (!f.mimeDefinition.is_null()) {
            if (!f.mimeDefinition.is_object() || !f.mimeDefinition.contains("comment"))
                fail(where + ": mimeDefinition needs at least a comment");
            for (const auto& [key, value] : f.mimeDefinition.items()) {
                if (!knownDefinitionKeys.contains(key))
                    fail(where + ": unknown mimeDefinition key '" + key + "'");
            }
        }
        formats.push_back(std::move(f));
    }
    return formats;
}

// ---- desktop files ----------------------------------------------------------------------

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string mimeDefinitions(const std::vector<Format>& formats) {
    std::string xml;
    for (const Format& f : formats) {
        const JSON& d = f.mimeDefinition;
        if (d.is_null()) continue;
        xml += "  <mime-type type=\"" + xmlEscaped(f.mimeType) + "\">\n";
        xml += "    <comment>" + xmlEscaped(d.at("comment").get<std::string>()) + "</comment>\n";
        if (d.contains("acronym"))
            xml += "    <acronym>" + xmlEscaped(d["acronym"].get<std::string>()) + "</acronym>\n";
        if (d.contains("expandedAcronym"))
            xml += "    <expanded-acronym>" + xmlEscaped(d["expandedAcronym"].get<std::string>()) +
                   "</expanded-acronym>\n";
        if (d.contains("subClassOf"))
            xml += "    <sub-class-of type=\"" + xmlEscaped(d["subClassOf"].get<std::string>()) +
                   "\"/>\n";
        for (const std::string& alias : f.aliases)
            xml += "    <alias type=\"" + xmlEscaped(alias) + "\"/>\n";
        if (d.contains("magic")) {
            xml += "    <magic priority=\"50\">\n";
            for (const std::string& value : d["magic"].get<std::vector<std::string>>())
                xml += "      <match type=\"string\" value=\"" + xmlEscaped(value) +
                       "\" offset=\"0\"/>\n";
            xml += "    </magic>\n";
        }
        for (const std::string& e : f.extensions)
            xml += "    <glob pattern=\"*." + e + "\"/>\n";
        xml += "  </mime-type>\n";
    }
    return xml;
}

std::string fill(std::string text, const std::vector<Format>& formats,
                 const std::vector<std::string>& definitions) {
    std::string thumbnailTypes, previewTypes, previewMediaTypes, names;
    JSON thumbnailTypesJSON = JSON::array();
    for (const Format& f : formats) {
        if (!f.registered) continue;
        // The canonical name first: GNOME matches that one exactly, other hosts the aliases.
        thumbnailTypes += f.mimeType + ";";
        thumbnailTypesJSON.push_back(f.mimeType);
        for (const std::string& alias : f.aliases) {
            thumbnailTypes += alias + ";";
            thumbnailTypesJSON.push_back(alias);
        }
        previewTypes += f.mimeType + ";";
        previewMediaTypes += "    <mediatype>" + xmlEscaped(f.mimeType) + "</mediatype>\n";
        names += f.name + ";";
    }
    std::vector<std::pair<std::string, std::string>> placeholders = {
        {"@THUMBNAIL_MIME_TYPES@", thumbnailTypes},
        {"@THUMBNAIL_MIME_TYPES_JSON@", thumbnailTypesJSON.dump()},
        {"@PREVIEW_MIME_TYPES@", previewTypes},
        {"@PREVIEW_MEDIA_TYPES_XML@", previewMediaTypes},
        {"@FORMAT_NAMES@", names},
        {"@MIME_DEFINITIONS@", mimeDefinitions(formats)},
    };
    for (const std::string& definition : definitions) {
        const size_t eq = definition.find('=');
        if (eq == std::string::npos || eq == 0) fail("not NAME=VALUE: " + definition);
        placeholders.emplace_back("@" + definition.substr(0, eq) + "@", definition.substr(eq + 1));
    }
    for (const auto& [placeholder, value] : placeholders) {
        for (size_t at; (at = text.find(placeholder)) != std::string::npos;)
            text.replace(at, placeholder.size(), value);
    }
    // A misspelt placeholder would otherwise reach the installed file.
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + 1)) {
        const size_t end = text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_", at + 1);
        if (end != std::string::npos && end > at + 1 && text[end] == '@')
            fail("unknown placeholder " + text.substr(at, end - at + 1));
    }
    return text;
}

// ---- C++ header -------------------------------------------------------------------------

// A C++ string literal of `text`, one source line per line of text.
std::string cppString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' || c == '\\') out += '\\';
        if (c != '\n') {
            out += c;
        } else if (i + 1 < text.size()) {
            out += "\\n\"\n    \"";
        } else {
            out += "\\n";
        }
    }
    return out + "\"";
}

std::string dottedExtensions(const Format& f) {
    std::string out;
    for (const std::string& e : f.extensions)
        out += (out.empty() ? "." : ", .") + e;
    return out;
}

// `text` broken into lines of at most `width` characters, the first starting after `first`,
// the others indented by `indent` spaces.
std::string wrapped(const std::string& first, size_t indent, const std::string& text,
                    size_t width) {
    std::string out = first + std::string(indent > first.size() ? indent - first.size() : 1, ' ');
    size_t column = out.size();
    std::istringstream words(text);
    bool lineEmpty = true;
    for (std::string word; words >> word;) {
        if (!lineEmpty && column + 1 + word.size() > width) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        lineEmpty = false;
    }
    return out + "\n";
}

std::string header(const std::vector<Format>& formats) {
    std::vector<std::string> loaders;
    for (const Format& f : formats) {
        if (std::find(loaders.begin(), loaders.end(), f.loader) == loaders.end())
            loaders.push_back(f.loader);
    }
    if (std::find(loaders.begin(), loaders.end(), "loadModelIO") == loaders.end())
        loaders.push_back("loadModelIO");

    std::string h =
        "// Generated by tools/format-list from packaging/formats.json: edit the list, not this\n"
        "// file. The formats Kelvo knows: which loader reads each extension, and the lists the\n"
        "// executables' --help texts show.\n"
        "#pragma once\n\n#include <string_view>\n\nnamespace kelvo {\n\n"
        "// SceneLoader's loaders, one for each that the list names.\n"
        "enum class FormatLoader { ";
    for (size_t i = 0; i < loaders.size(); ++i)
        h += (i ? ", " : "") + loaders[i];
    h += " };\n\n"
         "struct FormatExtension {\n    std::string_view extension;  // lower case, no dot\n"
         "    FormatLoader loader;\n"
         "    std::string_view mimeType;\n"
         "    bool registered;  // offered to file managers: Kelvo reads it well\n};\n\n"
         "inline constexpr FormatExtension formatExtensions[] = {\n";
    for (const Format& f : formats) {
        for (const std::string& e : f.extensions)
            h += "    {\"" + e + "\", FormatLoader::" + f.loader + ", \"" + f.mimeType + "\", " +
                 (f.registered ? "true" : "false") + "},\n";
    }
    h += "};\n\n"
         "// The loader of a lower-cased extension: the listed one, else the generic loader.\n"
         "constexpr FormatLoader formatLoader(std::string_view lowercaseExtension) {\n"
         "    for (const FormatExtension& e : formatExtensions) {\n"
         "        if (e.extension == lowercaseExtension) return e.loader;\n"
         "    }\n    return FormatLoader::loadModelIO;\n}\n\n";

    // The --help list: the registered formats, descriptions aligned in one column.
    size_t column = 0;
    for (const Format& f : formats) {
        if (f.registered) column = std::max(column, dottedExtensions(f).size());
    }
    std::string table;
    for (const Format& f : formats) {
        if (f.registered)
            table += wrapped("  " + dottedExtensions(f), column + 5, f.description, 79);
    }
    h += "// The formats Kelvo reads as --help lines: \"  .EXT   what reads it\", wrapped at 79\n"
         "// columns.\n"
         "inline constexpr std::string_view formatHelp =\n    " +
         cppString(table) + ";\n\n}  // namespace kelvo\n";
    return h;
}

// ---- README -----------------------------------------------------------------------------

constexpr std::string_view readmeBegin =
    "<!-- format table: made from packaging/formats.json by tools/dev formats -->\n";
constexpr std::string_view readmeEnd = "<!-- end of format table -->\n";

std::string readmeTable(const std::vector<Format>& formats) {
    std::string md =
        "| extension | MIME type | read by | thumbnail and preview |\n|---|---|---|---|\n";
    for (const Format& f : formats) {
        std::string extensions;
        for (const std::string& e : f.extensions)
            extensions += (extensions.empty() ? "`." : ", `.") + e + "`";
        md += "| " + extensions + " | `" + f.mimeType + "` | " + f.description + " | " +
              (f.registered ? "yes" : "not yet") + " |\n";
    }
    md +=
        "| anything else | | the generic model importer: every other format Debian's assimp "
        "library lists (not registered); the rest is refused with "
        "`SceneLoader -3: Unsupported format: EXT` | no |\n";
    return md;
}

int readme(const std::string& path, const std::vector<Format>& formats, bool check) {
    const std::string text = readFile(path);
    const size_t begin = text.find(readmeBegin);
    const size_t end = text.find(readmeEnd);
    if (begin == std::string::npos || end == std::string::npos || end < begin)
        fail(path + ": no format table between the markers '" +
             std::string(readmeBegin.substr(0, readmeBegin.size() - 1)) + "' and '" +
             std::string(readmeEnd.substr(0, readmeEnd.size() - 1)) + "'");
    const size_t from = begin + readmeBegin.size();
    const std::string updated = text.substr(0, from) + readmeTable(formats) + text.substr(end);
    if (!check) {
        writeIfChanged(path, updated);
        return 0;
    }
    if (updated == text) return 0;
    std::fprintf(stderr,
                 "format-list: %s: the format table differs from packaging/formats.json; "
                 "run tools/dev formats\n",
                 path.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() < 3)
            fail(
                "usage: format-list LIST (fill TEMPLATE OUT [NAME=VALUE]... | header OUT | readme "
                "README [--check])");
        const std::vector<Format> formats = readFormats(args[0]);
        const std::string& command = args[1];
        if (command == "fill" && args.size() >= 4) {
            writeIfChanged(args[3], fill(readFile(args[2]), formats,
                                         std::vector<std::string>(args.begin() + 4, args.end())));
        } else if (command == "header" && args.size() == 3) {
            writeIfChanged(args[2], header(formats));
        } else if (command == "readme" &&
                   (args.size() == 3 || (args.size() == 4 && args[3] == "--check"))) {
            return readme(args[2], formats, args.size() == 4);
        } else {
            fail("unknown command line; see tools/format-list/main.cpp");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "format-list: %s\n", e.what());
        return 1;
    }
    return 0;
}
