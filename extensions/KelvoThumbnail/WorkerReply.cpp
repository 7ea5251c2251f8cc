#include "extensions/KelvoThumbnail/WorkerReply.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "extensions/Shared/ErrorReport.h"

namespace kelvo {

namespace {

constexpr char replyPNG = 'P', replyError = 'E';

template <typename Number>
void putNumber(std::string& out, Number value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void putString(std::string& out, std::string_view text) {
    putNumber(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

std::string frame(char kind, std::string_view body) {
    std::string out(1, kind);
    putNumber(out, static_cast<std::uint32_t>(body.size()));
    out.append(body);
    return out;
}

struct Reader {
    std::string_view rest;
    bool ok = true;

    std::string_view take(size_t n) {
        if (!ok || rest.size() < n) {
            ok = false;
            return {};
        }
        std::string_view part = rest.substr(0, n);
        rest.remove_prefix(n);
        return part;
    }
    template <typename Number>
    Number number() {
        Number value{};
        std::string_view bytes = take(sizeof value);
        if (ok) std::memcpy(&value, bytes.data(), sizeof value);
        return value;
    }
    std::string string() { return std::string(take(number<std::uint32_t>())); }
};

std::optional<Error> decodeError(std::string_view bytes) {
    Reader reader{bytes};
    const auto code = reader.number<std::int64_t>();
    std::string domain = reader.string();
    const auto count = reader.number<std::uint32_t>();
    Error::UserInfo info;
    for (std::uint32_t i = 0; reader.ok && i < count; ++i) {
        std::string key = reader.string();
        info[key] = reader.string();
    }
    if (!reader.ok || !reader.rest.empty()) return std::nullopt;
    return Error(std::move(domain), static_cast<long>(code), std::move(info));
}

}  // namespace

std::string encodeWorkerReply(const WorkerOutcome& outcome) {
    if (const auto* png = std::get_if<std::vector<std::uint8_t>>(&outcome)) {
        return frame(replyPNG, {reinterpret_cast<const char*>(png->data()), png->size()});
    }
    const Error& error = std::get<Error>(outcome);
    std::string body;
    putNumber(body, static_cast<std::int64_t>(error.code()));
    putString(body, error.domain());
    Error::UserInfo info = error.userInfo();
    info.insert_or_assign(std::string(localizedDescriptionKey), errorMessage(error));
    putNumber(body, static_cast<std::uint32_t>(info.size()));
    for (const auto& [key, value] : info) {
        putString(body, key);
        putString(body, value);
    }
    return frame(replyError, body);
}

std::optional<size_t> workerReplyBodySize(std::string_view head) {
    Reader reader{head};
    const std::string_view kind = reader.take(1);
    const auto size = reader.number<std::uint32_t>();
    if (!reader.ok || (kind[0] != replyPNG && kind[0] != replyError) ||
        size > maxWorkerReplyBodyBytes) {
        return std::nullopt;
    }
    return size;
}

std::optional<WorkerOutcome> decodeWorkerReply(std::string_view frame) {
    const std::optional<size_t> size = workerReplyBodySize(frame);
    if (!size || frame.size() != workerReplyHeadBytes + *size) return std::nullopt;
    const std::string_view body = frame.substr(workerReplyHeadBytes);
    if (frame[0] == replyPNG) return WorkerOutcome(std::vector<std::uint8_t>(body.begin(), body.end()));
    if (std::optional<Error> error = decodeError(body)) return WorkerOutcome(std::move(*error));
    return std::nullopt;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool readAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace kelvo
