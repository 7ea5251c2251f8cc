#include "platform/ModelIO/AssimpFileAccess.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/Foundation/ReferencedFile.h"

namespace kelvo {

namespace {

// Files the library opens besides the model (textures of some formats, linked parts) are
// read whole; none of them needs more.
constexpr std::uint64_t referencedFileSizeLimit = std::uint64_t{1} << 30;

class BufferStream : public Assimp::IOStream {
public:
    explicit BufferStream(std::shared_ptr<const ByteBuffer> bytes) : bytes_(std::move(bytes)) {}

    size_t Read(void* buffer, size_t size, size_t count) override {
        if (size == 0 || count == 0) return 0;
        const size_t available = (bytes_->size() - position_) / size;
        const size_t whole = std::min(count, available);
        if (whole == 0) return 0;
        std::memcpy(buffer, bytes_->data() + position_, whole * size);
        position_ += whole * size;
        return whole;
    }
    size_t Write(const void*, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        size_t base = origin == aiOrigin_SET   ? 0
                      : origin == aiOrigin_CUR ? position_
                                               : bytes_->size();
        // Offsets are unsigned here: a backward seek from the end arrives as a wrapped value.
        size_t target = base + offset;
        if (target > bytes_->size()) return aiReturn_FAILURE;
        position_ = target;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return position_; }
    size_t FileSize() const override { return bytes_->size(); }
    void Flush() override {}

private:
    std::shared_ptr<const ByteBuffer> bytes_;
    size_t position_ = 0;
};

bool readOnly(const char* mode) {
    return mode && !std::strpbrk(mode, "wa+");
}

}  // namespace

AssimpFileAccess::AssimpFileAccess(std::filesystem::path modelFile,
                                   std::shared_ptr<const ByteBuffer> contents)
    : modelFile_(std::move(modelFile)), contents_(std::move(contents)) {}

std::string AssimpFileAccess::referenceFor(const char* file) const {
    const std::filesystem::path path(file);
    if (path.is_relative()) return path.string();
    return path.lexically_relative(modelFile_.parent_path()).string();
}

bool AssimpFileAccess::Exists(const char* file) const {
    if (!file) return false;
    if (modelFile_ == file) return true;
    std::optional<std::filesystem::path> path =
        resolveReference(modelFile_, referenceFor(file), ReferenceSyntax::path);
    struct stat info;
    return path && ::stat(path->c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

Assimp::IOStream* AssimpFileAccess::Open(const char* file, const char* mode) {
    if (!file || !readOnly(mode)) return nullptr;
    if (modelFile_ == file) return new BufferStream(contents_);
    ReferencedFile referenced = readReferencedFile(modelFile_, referenceFor(file),
                                                   ReferenceSyntax::path, referencedFileSizeLimit);
    if (referenced.outcome != ReferenceOutcome::read) return nullptr;
    return new BufferStream(std::make_shared<const ByteBuffer>(std::move(referenced.contents)));
}

void AssimpFileAccess::Close(Assimp::IOStream* stream) {
    delete stream;
}

}  // namespace kelvo
