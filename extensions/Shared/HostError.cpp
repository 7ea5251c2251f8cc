#include "extensions/Shared/HostError.h"

#include <cerrno>
#include <new>
#include <string>
#include <system_error>

#include "extensions/Shared/ZIP/ZIPReader.h"

namespace kelvo {

Error hostError(std::exception_ptr thrown, std::string_view deliverable) {
    try {
        std::rethrow_exception(thrown);
    } catch (const Error& error) {
        return error;
    } catch (const ZIPReader::ZIPError& error) {
        return platformError(error, deliverable);
    } catch (const std::bad_alloc&) {
        return makeError(std::string(posixErrorDomain), ENOMEM, "Cannot allocate memory");
    } catch (const std::system_error& error) {
        // std::filesystem and std::thread report the operating system's errno this way.
        if (error.code().category() == std::generic_category() ||
            error.code().category() == std::system_category()) {
            return makeError(std::string(posixErrorDomain), error.code().value(),
                             error.code().message());
        }
        return makeError(std::string(genericErrorDomain), -1, error.what());
    } catch (const std::exception& error) {
        return makeError(std::string(genericErrorDomain), -1, error.what());
    } catch (...) {
        return makeError(std::string(genericErrorDomain), -1, "Unknown error");
    }
}

}  // namespace kelvo
