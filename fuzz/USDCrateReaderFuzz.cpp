// Any byte string is a crate layer to the binary reader: it must return a layer or a reason,
// never crash, hang or allocate beyond the budget its size allows. Inputs that do not start
// with the crate magic are given it, so the fuzzer spends its time past the header.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ModelIO/USD/USDCrateReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvo::usd::Layer layer;
    if (size >= 8 && std::memcmp(data, "PXR-USDC", 8) == 0) {
        kelvo::usd::readCrate(kelvo::ByteSpan(data, size), layer);
        return 0;
    }
    std::vector<std::uint8_t> crate(8 + size);
    std::memcpy(crate.data(), "PXR-USDC", 8);
    if (size > 0) std::memcpy(crate.data() + 8, data, size);
    kelvo::usd::readCrate(kelvo::ByteSpan(crate.data(), crate.size()), layer);
    return 0;
}
