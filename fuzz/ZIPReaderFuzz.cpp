// Any byte string is a package to the ZIP reader: listing, extracting every entry and
// choosing the root model part must return or throw ZIPError, never crash, never read
// outside the package, and never ask for more output than the entry's bytes could fill.
#include <cstddef>
#include <cstdint>

#include "extensions/Shared/ThreeMF/Fast3MFParser.h"
#include "extensions/Shared/ZIP/ZIPReader.h"

namespace {

// Larger inputs only slow each run down, and a forged size may then ask for a buffer of
// 1032 x the entry (untouched, but beyond the fuzzer's allocation limit).
constexpr std::size_t largestInput = 256 * 1024;
// Overlapping directory records can name the same bytes many times; a few suffice.
constexpr std::size_t entriesExtracted = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > largestInput) return 0;
    using kelvo::ZIPReader;
    ZIPReader::Archive archive;
    archive.data.assign(data, data + size);
    try {
        archive.entries = ZIPReader::readCentralDirectory(archive.data);
    } catch (const ZIPReader::ZIPError&) {
        return 0;
    }
    for (std::size_t k = 0; k < archive.entries.size() && k < entriesExtracted; ++k) {
        const kelvo::CentralEntry& entry = archive.entries[k];
        try {
            kelvo::ByteBuffer bytes = ZIPReader::extractEntry(entry, archive.data);
            if (static_cast<std::int64_t>(bytes.size()) > ZIPReader::extractionCapacity(entry)) {
                __builtin_trap();
            }
        } catch (const ZIPReader::ZIPError&) {
        }
    }
    try {
        kelvo::ByteBuffer model = ZIPReader::extractModelFile(archive);
        kelvo::Fast3MFParser::parse(model);
    } catch (const ZIPReader::ZIPError&) {
    }
    return 0;
}
