// Text chunks (tEXt) of PNG files: the thumbnail cache keeps what a thumbnail was made from
// in them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

using PNGTextEntries = std::vector<std::pair<std::string, std::string>>;

// `png` with a tEXt chunk for each entry placed right after its header chunk; nothing when
// `png` does not start with a PNG signature and header. Keys must be 1 to 79 Latin-1
// characters and values must hold no NUL (the cache's keys and values do).
std::optional<std::vector<std::uint8_t>> withPNGText(ByteSpan png, const PNGTextEntries& entries);

// The tEXt chunks of `png` before its image data, by key (the last wins); empty when the
// bytes are not a PNG. Every length is checked against the bytes present.
std::map<std::string, std::string> readPNGText(ByteSpan png);

}  // namespace kelvo
