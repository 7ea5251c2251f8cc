// The one error type of the library: a domain, an integer code and a user-info map whose
// description key holds the message. Loaders throw it; hosts catch it and hand it on
// unchanged. File-reading failures use the "POSIX" domain with the errno value as code.
#pragma once

#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace kelvo {

// The user-info key under which the human-readable message is kept.
inline constexpr std::string_view localizedDescriptionKey = "NSLocalizedDescription";

// Domain of errors that come from the operating system; the code is the errno value.
inline constexpr std::string_view posixErrorDomain = "POSIX";

class Error : public std::exception {
public:
    using UserInfo = std::map<std::string, std::string, std::less<>>;

    Error(std::string domain, long code, UserInfo userInfo = {});

    const std::string& domain() const noexcept { return domain_; }
    long code() const noexcept { return code_; }
    const UserInfo& userInfo() const noexcept { return userInfo_; }

    // The message under the description key, or a generic text naming domain and code
    // when the user info has none.
    const std::string& localizedDescription() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    // The value of another error type that this error was converted from on its way to a
    // host (the ZIP reader's error, for one), kept so that text for people can still say
    // what it held; null when there is none. It is not part of the error's value: equality,
    // domain, code and user info are the same with or without it.
    const std::exception* bridgedError() const noexcept { return bridged_.get(); }
    Error& bridging(std::shared_ptr<const std::exception> original) {
        bridged_ = std::move(original);
        return *this;
    }

    friend bool operator==(const Error& a, const Error& b) {
        return a.domain_ == b.domain_ && a.code_ == b.code_ && a.userInfo_ == b.userInfo_;
    }

private:
    std::string domain_;
    long code_;
    UserInfo userInfo_;
    std::string description_;
    std::shared_ptr<const std::exception> bridged_;
};

// An error carrying exactly one user-info entry: the message under the description key.
Error makeError(std::string domain, long code, std::string message);

// The operating system's error for errno value `errnoValue`, with strerror's text as the
// message and the path under the "NSFilePath" key.
Error posixError(int errnoValue, const std::filesystem::path& path);

}  // namespace kelvo
