// The streaming readers' passes over the pieces of a file, on the two cores a thumbnailer
// may use.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

namespace kelvo {

// Runs work(i) for i in [0, count) on this thread and, for more than one, a second one
// taking every other index; where no thread can be started this one does all. What work
// throws (out of memory, say) on either thread is thrown here once both have stopped.
template <class Work>
void onTwoThreads(std::size_t count, const Work& work) {
    std::optional<std::thread> second;
    std::exception_ptr failure;
    if (count > 1) {
        try {
            second.emplace([&] {
                try {
                    for (std::size_t i = 1; i < count; i += 2)
                        work(i);
                } catch (...) {
                    failure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
        }
    }
    try {
        for (std::size_t i = 0; i < count; i += second ? 2 : 1)
            work(i);
    } catch (...) {
        if (second) second->join();
        throw;
    }
    if (second) second->join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace kelvo
