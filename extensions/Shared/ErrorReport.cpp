#include "extensions/Shared/ErrorReport.h"

#include <cerrno>

#include "extensions/Shared/HostError.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/ZIP/ZIPReader.h"
#include "platform/GLTFKit/GLTFKit.h"
#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

namespace {

std::string explainZIPError(const ZIPReader::ZIPError& error) {
    using Case = ZIPReader::ZIPError::Case;
    switch (error.errorCase()) {
        case Case::entryNotFound:
            return "The 3MF package has no model part " + error.entryName() + ".";
        case Case::unsupportedCompression:
            return "The 3MF package's model part is compressed with method " +
                   std::to_string(error.method()) +
                   ", which Kelvo cannot unpack (it reads stored and Deflate parts).";
        case Case::invalidArchive:
            return "The file is not a 3MF package: its ZIP structure is missing or broken.";
        case Case::decompressionFailed:
            return "The 3MF package's model part is damaged and cannot be unpacked.";
    }
    return error.what();
}

std::string explainSceneLoaderError(const Error& error) {
    const std::string& message = error.localizedDescription();
    switch (error.code()) {
        case gltfLoadFailed:
        case gltfNoSceneProduced:
            return "The glTF file holds no scene that Kelvo can show.";
        case unsupportedFormat: {
            if (message == SceneLoaderMessage::stlNotSupported)
                return "This build of Kelvo cannot read STL files.";
            const std::string_view prefix = SceneLoaderMessage::unsupportedFormatPrefix;
            if (message.starts_with(prefix)) {
                const std::string extension = message.substr(prefix.size());
                if (extension.empty())
                    return "Kelvo cannot tell the file's format: it has no extension.";
                return "Kelvo cannot read ." + extension + " files.";
            }
            break;
        }
        case loaderModuleMissing:
            return "Kelvo is installed incompletely: the part that reads this format is "
                   "missing.";
        case noMeshIn3MF:
            return "The 3MF package holds no mesh to show.";
        case voxFileTooSmall:
            return "The VOX file is too short to hold a voxel model.";
        case voxBadMagic:
            return "The file is not a VOX file: it does not start with the VOX signature.";
        case voxNoVoxelData:
            return "The VOX file holds no voxel model.";
    }
    return message;
}

// The importers' reasons already name what is wrong; they only need a sentence around them.
std::string explainModelIOError(const Error& error) {
    std::string text = "The file cannot be read as a model: " + error.localizedDescription();
    if (!text.ends_with('.')) text += '.';
    return text;
}

// The glTF reader's messages name the object at fault; they only need a sentence around them.
std::string explainGLTFError(const Error& error) {
    if (error.code() == gltfErrorUnsupportedExtension ||
        error.code() == gltfErrorUnsupportedVersion) {
        return "Kelvo cannot show this glTF file: " + error.localizedDescription() + ".";
    }
    return "The glTF file is damaged: " + error.localizedDescription() + ".";
}

std::string explainPOSIXError(const Error& error) {
    switch (error.code()) {
        case ENOENT:
            return "The file does not exist.";
        case EACCES:
        case EPERM:
            return "You do not have permission to read the file.";
        case EISDIR:
            return "It is a folder, not a model file.";
        case EINVAL:
            return "It is not a regular file (a device, a pipe or a socket).";
        case EFBIG:
            return "The file is too large to be read.";
        case ENOMEM:
            return "There is not enough memory to show this model.";
    }
    return "The file cannot be read: " + error.localizedDescription() + ".";
}

}  // namespace

std::string errorMessage(const Error& error) {
    if (const std::exception* original = error.bridgedError()) return original->what();
    return error.localizedDescription();
}

std::string errorSummary(const Error& error) {
    std::string summary = error.domain();
    summary.append(" ").append(std::to_string(error.code())).append(": ");
    return summary.append(errorMessage(error));
}

std::string errorLine(std::string_view program, std::string_view file, const Error& error) {
    std::string line(program);
    line.append(": ").append(file).append(": ").append(errorSummary(error));
    return line + "\n";
}

std::string errorExplanation(const Error& error) {
    if (const auto* zip = dynamic_cast<const ZIPReader::ZIPError*>(error.bridgedError())) {
        return explainZIPError(*zip);
    }
    if (error.domain() == sceneLoaderErrorDomain) return explainSceneLoaderError(error);
    if (error.domain() == posixErrorDomain) return explainPOSIXError(error);
    if (error.domain() == gltfErrorDomain) return explainGLTFError(error);
    if (error.domain() == modelIOErrorDomain) return explainModelIOError(error);
    if (error.domain() == genericErrorDomain) return "Kelvo failed: " + errorMessage(error) + ".";
    return errorMessage(error);
}

}  // namespace kelvo
