#include "extensions/KelvoThumbnail/ProcessLimits.h"

#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define KELVO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVO_ADDRESS_SANITIZER 1
#endif
#endif

namespace kelvo {

bool limitMemory(std::uint64_t bytes) {
#ifdef KELVO_ADDRESS_SANITIZER
    (void)bytes;
    return false;
#else
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_DATA, &limit) != 0) return false;
    // Never raise a limit someone else set lower.
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= bytes) return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < bytes) bytes = limit.rlim_max;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    return ::setrlimit(RLIMIT_DATA, &limit) == 0;
#endif
}

}  // namespace kelvo
