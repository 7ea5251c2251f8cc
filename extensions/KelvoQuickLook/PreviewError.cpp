#include "extensions/KelvoQuickLook/PreviewError.h"

#include <cerrno>
#include <new>

namespace kelvo {

Error zipReaderError(long code, std::string message) {
    return makeError(std::string(previewZIPErrorDomain), code, std::move(message));
}

Error previewError(std::exception_ptr thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const Error& error) {
        return error;
        // The ZIP reader's own error type is caught here, before std::exception, and converted
        // with zipReaderError once that reader is part of the library.
    } catch (const std::bad_alloc&) {
        return makeError(std::string(posixErrorDomain), ENOMEM, "Cannot allocate memory");
    } catch (const std::exception& error) {
        return makeError("Kelvo", -1, error.what());
    } catch (...) {
        return makeError("Kelvo", -1, "Unknown error");
    }
}

}  // namespace kelvo
