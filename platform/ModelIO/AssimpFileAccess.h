// The only way the Open Asset Import Library reaches files: the model file, already read
// whole, and the files it names, through the referenced-file rules
// (platform/Foundation/ReferencedFile.h: relative to the model, regular files only, a size
// limit, no writing). So the library never blocks on a pipe, reads a device or opens what a
// model file has no business naming.
#pragma once

#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>

#include <filesystem>
#include <memory>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

class AssimpFileAccess : public Assimp::IOSystem {
public:
    // `modelFile` is an absolute path, the one handed to ReadFile; `contents` its bytes.
    AssimpFileAccess(std::filesystem::path modelFile, std::shared_ptr<const ByteBuffer> contents);

    bool Exists(const char* file) const override;
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* file, const char* mode = "rb") override;
    void Close(Assimp::IOStream* stream) override;
    bool CreateDirectory(const std::string&) override { return false; }
    bool ChangeDirectory(const std::string&) override { return false; }
    bool DeleteFile(const std::string&) override { return false; }

private:
    // The reference relative to the model's folder that `file` stands for.
    std::string referenceFor(const char* file) const;

    std::filesystem::path modelFile_;
    std::shared_ptr<const ByteBuffer> contents_;
};

}  // namespace kelvo
