// Any byte string is a USDA layer to the text reader: it must return (a layer and maybe a
// reason it stopped), never crash, hang or allocate beyond what the bytes justify. Inputs
// that do not start with the header are given one, so the fuzzer explores the grammar.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ModelIO/USD/USDATextReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvo::usd::Layer layer;
    if (kelvo::usd::looksLikeUSDA(kelvo::ByteSpan(data, size))) {
        kelvo::usd::readUSDA(kelvo::ByteSpan(data, size), layer);
        return 0;
    }
    std::vector<std::uint8_t> text(10 + size);
    std::memcpy(text.data(), "#usda 1.0\n", 10);
    if (size > 0) std::memcpy(text.data() + 10, data, size);
    kelvo::usd::readUSDA(kelvo::ByteSpan(text.data(), text.size()), layer);
    return 0;
}
