// Telling a software OpenGL from a GPU by the names drivers and renderers give themselves.
#include <gtest/gtest.h>

#include "platform/SceneView/OpenGLRenderer.h"

namespace kelvo {
namespace {

TEST(OpenGLRenderer, mesasCPURenderersAreSoftwareAndGPUsAreNot) {
    for (const char* software : {"swrast", "kms_swrast", "llvmpipe (LLVM 15.0.6, 256 bits)",
                                 "softpipe", "Gallium 0.4 on llvmpipe (LLVM 3.4, 128 bits)"}) {
        EXPECT_TRUE(isSoftwareRenderer(software)) << software;
    }
    for (const char* gpu : {"", "iris", "radeonsi", "Mesa Intel(R) UHD Graphics 620 (KBL GT2)",
                            "AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0)",
                            "NVIDIA GeForce RTX 3060/PCIe/SSE2", "virgl", "zink"}) {
        EXPECT_FALSE(isSoftwareRenderer(gpu)) << gpu;
    }
}

}  // namespace
}  // namespace kelvo
