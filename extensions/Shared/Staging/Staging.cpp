// Staging: one camera framing the model's bounding box and a fixed rig of three lights. The
// rig depends only on the box, so every format and every model is lit the same way.
#include "extensions/Shared/SceneLoader.h"

#include <cmath>

namespace kelvo {

std::shared_ptr<Node> SceneLoader::setupCameraAndLighting(Scene& scene, Size /*size*/) const {
    // Measured before anything is added, so the rig never frames itself.
    BoundingBox box = scene.rootNode->boundingBox();
    Vec3 center{(box.min.x + box.max.x) * 0.5, (box.min.y + box.max.y) * 0.5,
                (box.min.z + box.max.z) * 0.5};
    double maxDim =
        std::fmax(box.max.x - box.min.x, std::fmax(box.max.y - box.min.y, box.max.z - box.min.z));

    auto cameraNode = Node::make();
    cameraNode->camera = std::make_shared<Camera>();
    // Not greater than 0 covers an empty scene (an empty box gives -inf), a single point and
    // a non-number. A box that overflows (finite vertices scaled past the largest double)
    // would put the camera at infinity and render nothing; it gets the fallback too.
    bool finiteBox = std::isfinite(maxDim) && std::isfinite(center.x) && std::isfinite(center.y) &&
                     std::isfinite(center.z);
    if (!(maxDim > 0) || !finiteBox) {
        cameraNode->setPosition({0, 0, 5});
        scene.rootNode->addChildNode(cameraNode);
        return cameraNode;
    }
    double d = maxDim * 1.8;

    cameraNode->camera->automaticallyAdjustsZRange = true;
    cameraNode->camera->fieldOfView = 45;
    cameraNode->setPosition(center + Vec3{d * 0.5, d * 0.4, d * 0.7});
    cameraNode->lookAt(center);
    scene.rootNode->addChildNode(cameraNode);

    // Directional lights: positions are absolute, only their direction towards the centre
    // matters.
    auto addLight = [&](LightType type, double intensity) {
        auto node = Node::make();
        node->light = std::make_shared<Light>();
        node->light->type = type;
        node->light->intensity = intensity;
        return node;
    };
    auto key = addLight(LightType::directional, 1000);
    key->setPosition({d, d * 1.5, d});
    key->lookAt(center);
    scene.rootNode->addChildNode(key);

    auto fill = addLight(LightType::directional, 400);
    fill->setPosition({-d, d * 0.5, d * 0.5});
    fill->lookAt(center);
    scene.rootNode->addChildNode(fill);

    scene.rootNode->addChildNode(addLight(LightType::ambient, 300));

    scene.background = Color::clear();
    return cameraNode;
}

}  // namespace kelvo
