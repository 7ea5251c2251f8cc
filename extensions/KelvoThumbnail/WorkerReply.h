// What a worker process sends its parent over a pipe: a thumbnail's PNG bytes or an error.
//
// A reply is framed, so that one pipe can carry the replies of many files: a kind byte, the
// body's length (32 bits), then the body: the PNG, or for an error its code (64 bits), its
// domain and its user info, strings as a 32-bit length and the bytes. Numbers are in the
// machine's order, as both ends are on this machine. The parent trusts nothing in a reply:
// a worker that found a parser bug may send anything, and a frame that does not decode is
// treated as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Foundation/Error.h"

namespace kelvo {

using WorkerOutcome = std::variant<std::vector<std::uint8_t>, Error>;

inline constexpr size_t workerReplyHeadBytes = 5;
// More than any thumbnail's PNG (4096 x 4096 pixels) can take: a worker that sends more is
// not trusted with the parent's memory.
inline constexpr size_t maxWorkerReplyBodyBytes = size_t{256} << 20;

// The whole frame for `outcome`. An error's message travels as its description, since the
// bridged value some errors keep their text in does not cross.
std::string encodeWorkerReply(const WorkerOutcome& outcome);

// The body length a frame's first workerReplyHeadBytes announce; nullopt when they are not
// the head of a reply or the length is over the maximum.
std::optional<size_t> workerReplyBodySize(std::string_view head);

// The outcome a whole frame (head and body, nothing more) holds; nullopt when it is not one.
std::optional<WorkerOutcome> decodeWorkerReply(std::string_view frame);

// The whole buffer written to, or read from, a pipe; false when the other end has gone or
// the call failed. EINTR is retried.
bool writeAll(int fd, std::string_view bytes);
bool readAll(int fd, void* data, size_t size);

}  // namespace kelvo
