#include "platform/Foundation/Error.h"

#include <cstring>

namespace kelvo {

Error::Error(std::string domain, long code, UserInfo userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {
    if (auto it = userInfo_.find(localizedDescriptionKey); it != userInfo_.end()) {
        description_ = it->second;
    } else {
        description_ = "The operation couldn't be completed. (" + domain_ + " error " +
                       std::to_string(code_) + ".)";
    }
}

Error makeError(std::string domain, long code, std::string message) {
    return Error(std::move(domain), code,
                 {{std::string(localizedDescriptionKey), std::move(message)}});
}

Error posixError(int errnoValue, const std::filesystem::path& path) {
    // strerror_r in its GNU form may return a static string instead of filling the buffer.
    char buffer[256] = {};
    const char* text = strerror_r(errnoValue, buffer, sizeof buffer);
    return Error(std::string(posixErrorDomain), errnoValue,
                 {{std::string(localizedDescriptionKey), text},
                  {"NSFilePath", path.string()}});
}

}  // namespace kelvo
