// Reading the text form of USD layers (".usda", and ".usd" files that start with "#usda").
//
// The whole grammar of the text form is followed, so that whatever the reader does not keep
// is skipped by its syntax and never by guessing: the header line, layer metadata, prims
// ("def", "over", "class" with an optional type name and metadata), variant sets,
// "reorder" statements, attributes with their variability ("uniform", "varying", "config"),
// "custom", list-edit prefixes, ".connect" and ".timeSamples" suffixes and metadata,
// relationships, and values of every kind: numbers (also inf and nan), tuples, arrays,
// strings in single, double and triple quotes with escapes, asset paths (@...@ and
// @@@...@@@), prim and property paths (<...>), dictionaries, None. Comments are "#" and
// "//" to the end of the line and "/* ... */".
//
// What is kept is what USDLayer.h models. Numbers are read as the C library reads them in
// the C locale (platform/Foundation/CNumberParsing.h), floats in arrays straight into
// single precision.
//
// Bad input: the reader stops at the first byte that breaks the grammar and reports it with
// its line; everything read before stays in the layer, so a caller can draw the readable
// part. Prims, variants and values nest at most maxNesting deep. Memory grows with the
// text only: an array holds what is written in it, never a declared count.
#pragma once

#include <string>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/USD/USDLayer.h"

namespace kelvo::usd {

inline constexpr int maxNesting = 128;

// True when the bytes start as a text layer does ("#usda" then a blank).
bool looksLikeUSDA(ByteSpan bytes);

// Reads the text layer `text` into `layer` (which should be empty). Returns an empty
// string when the whole text was read, else the reason it stopped, naming the line
// ("line 12: expected '=' after the variant set name").
std::string readUSDA(ByteSpan text, Layer& layer);

}  // namespace kelvo::usd
