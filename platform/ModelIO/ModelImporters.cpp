#include "platform/ModelIO/ModelImporters.h"

#include "platform/Foundation/Text.h"
#include "platform/ModelIO/OBJImporter.h"
#include "platform/ModelIO/PLYImporter.h"
#include "platform/ModelIO/STLImporter.h"
#include "platform/ModelIO/USD/USDImporter.h"

namespace kelvo {

namespace {

constexpr ModelImporter importers[] = {
    {"stl", importSTLFile},
    {"obj", importOBJFile},
    {"ply", importPLYFile},
    // Every USD extension: the importer tells text from binary by the first bytes.
    {"usd", importUSDFile},
    {"usda", importUSDFile},
    {"usdc", importUSDFile},
    {"usdz", importUSDFile},
};

}  // namespace

std::span<const ModelImporter> modelImporters() {
    return importers;
}

const ModelImporter* findModelImporter(std::string_view extension) {
    for (const ModelImporter& importer : importers) {
        if (equalsIgnoringASCIICase(extension, importer.extension)) return &importer;
    }
    return nullptr;
}

}  // namespace kelvo
