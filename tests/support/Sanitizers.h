// Whether the tests run under AddressSanitizer. Its shadow memory needs far more address
// space than any memory limit leaves, so the tools apply no memory limit there and the tests
// of that limit are left out.
#pragma once

namespace kelvo::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool underAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool underAddressSanitizer = true;
#else
inline constexpr bool underAddressSanitizer = false;
#endif
#else
inline constexpr bool underAddressSanitizer = false;
#endif

}  // namespace kelvo::test
