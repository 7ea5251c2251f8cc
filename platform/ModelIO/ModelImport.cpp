// The importer's choice between Kelvo's own readers and the import library, apart from the
// rest of ModelIO.cpp, so that a program reading STL through its own reader does not link
// the import library.
#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/AssimpImporter.h"
#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/ModelImporters.h"

namespace kelvo {

bool canImportFileExtension(std::string_view extension) {
    return findModelImporter(extension) || assimpCanImport(extension);
}

ModelAsset importModelAsset(const std::filesystem::path& url) {
    const std::string extension = pathExtension(url);
    if (const ModelImporter* importer = findModelImporter(extension))
        return importer->importFile(url);
    if (assimpCanImport(extension)) return importWithAssimp(url);
    return {};
}

}  // namespace kelvo
