// Reading the text formats (OBJ, MTL, ASCII PLY) line by line and word by word. Every
// function takes an end pointer and never reads at or past it; numbers are read as the C
// library reads them in the C locale (platform/Foundation/CNumberParsing.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/Foundation/CNumberParsing.h"

namespace kelvo::text {

// Blanks between words: everything C's isspace counts except the line feed.
inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

inline const char* skipBlanks(const char* p, const char* end) {
    while (p < end && isBlank(*p))
        ++p;
    return p;
}

inline const char* skipWord(const char* p, const char* end) {
    while (p < end && !isBlank(*p))
        ++p;
    return p;
}

// [p, end) without blanks at either end.
inline std::string_view trimmed(const char* p, const char* end) {
    p = skipBlanks(p, end);
    while (end > p && isBlank(end[-1]))
        --end;
    return {p, static_cast<std::size_t>(end - p)};
}

// A float as strtof reads it in the C locale, after blanks; false, with `p` unmoved past the
// blanks, when no number starts there.
inline bool readFloat(const char*& p, const char* end, float& value) {
    p = skipBlanks(p, end);
    auto* first = reinterpret_cast<const std::uint8_t*>(p);
    CFloatParse number = parseCFloat(first, reinterpret_cast<const std::uint8_t*>(end));
    if (number.next == first) return false;
    value = number.value;
    p = reinterpret_cast<const char*>(number.next);
    return true;
}

// A decimal integer with an optional sign (no blanks skipped); false without a digit.
// Magnitudes beyond 2^40 are held at 2^40, beyond every valid index.
inline bool readInteger(const char*& p, const char* end, std::int64_t& value) {
    constexpr std::int64_t limit = std::int64_t{1} << 40;
    const char* q = p;
    bool negative = false;
    if (q < end && (*q == '-' || *q == '+')) negative = *q++ == '-';
    const char* digits = q;
    std::int64_t v = 0;
    while (q < end && static_cast<unsigned>(*q - '0') < 10) {
        v = v * 10 + (*q++ - '0');
        if (v > limit) v = limit;
    }
    if (q == digits) return false;
    value = negative ? -v : v;
    p = q;
    return true;
}

// Lines of a text file. A line ends at a line feed (CR LF too) or, in a file with no line
// feed at all, at a carriage return. A line whose last non-blank character is a backslash
// continues on the next one (the two joined by a blank), as OBJ and MTL allow.
class LineReader {
public:
    LineReader(const char* begin, const char* end)
        : LineReader(begin, end, lineTerminator(begin, end)) {}
    // Lines ending in `terminator`, for a part of a text whose terminator is known.
    LineReader(const char* begin, const char* end, char terminator)
        : p_(begin), end_(end), terminator_(terminator) {}

    // What ends the lines of the text [begin, end): the line feed, or in a text without one
    // the carriage return.
    static char lineTerminator(const char* begin, const char* end) {
        const bool hasLineFeed =
            begin == end || std::memchr(begin, '\n', static_cast<std::size_t>(end - begin));
        return hasLineFeed ? '\n' : '\r';
    }

    // The next line, without its terminator; false at the end of the text.
    bool next(const char*& lineBegin, const char*& lineEnd) {
        if (p_ >= end_) return false;
        const char* eol = find(p_);
        std::string_view line(p_, static_cast<std::size_t>(eol - p_));
        p_ = eol < end_ ? eol + 1 : end_;
        if (!continues(line)) {
            lineBegin = line.data();
            lineEnd = line.data() + line.size();
            return true;
        }
        joined_.clear();
        while (continues(line)) {
            std::string_view kept = trimmed(line.data(), line.data() + line.size());
            joined_.append(kept.substr(0, kept.size() - 1)).push_back(' ');
            if (p_ >= end_) break;
            eol = find(p_);
            line = std::string_view(p_, static_cast<std::size_t>(eol - p_));
            p_ = eol < end_ ? eol + 1 : end_;
            if (!continues(line)) joined_.append(line);
        }
        lineBegin = joined_.data();
        lineEnd = joined_.data() + joined_.size();
        return true;
    }

    // Whether `line` (without its terminator) goes on in the next one.
    static bool continues(std::string_view line) {
        std::size_t n = line.size();
        while (n > 0 && isBlank(line[n - 1]))
            --n;
        return n > 0 && line[n - 1] == '\\';
    }

private:
    const char* find(const char* from) const {
        const void* hit = std::memchr(from, terminator_, static_cast<std::size_t>(end_ - from));
        return hit ? static_cast<const char*>(hit) : end_;
    }

    const char* p_;
    const char* end_;
    char terminator_;
    std::string joined_;
};

}  // namespace kelvo::text
