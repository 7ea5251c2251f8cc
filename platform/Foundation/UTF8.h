// UTF-8 validation for text taken from file bytes (ZIP entry names, XML attribute values).
#pragma once

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

// True when `bytes` is well-formed UTF-8 as Unicode defines it: no overlong forms, no
// surrogate code points (U+D800..U+DFFF), nothing above U+10FFFF, no truncated sequence.
// The empty sequence is valid. Pure; any thread.
bool isValidUTF8(ByteSpan bytes);

}  // namespace kelvo
