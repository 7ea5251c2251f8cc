// The native half of the Python package `kelvo`: load, thumbnail and render in this process,
// with the GIL released while they work so that Python threads run them side by side. The
// isolated mode (another process) is the Python half's (python/kelvo/__init__.py).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "extensions/KelvoThumbnail/Thumbnailer.h"
#include "extensions/Shared/ErrorReport.h"
#include "extensions/Shared/HostError.h"
#include "extensions/Shared/SceneLoader.h"
#include "platform/Foundation/Error.h"
#include "platform/Imaging/ImageDecoding.h"
#include "platform/Imaging/PNG.h"
#include "platform/Renderer/Renderer.h"
#include "tools/kelvo-inspect/SceneJSON.h"

namespace py = pybind11;

namespace {

// The name these bindings qualify the error types of the library with.
constexpr std::string_view deliverableName = "KelvoPython";

// Failures cross into Python as (domain, code, message); the Python half raises KelvoError.
struct Failure {
    kelvo::Error error;
};

[[noreturn]] void raise(const kelvo::Error& error) {
    throw Failure{error};
}

// Runs `work` without the GIL and turns whatever it throws into a Failure.
template <typename Work>
auto withoutGIL(Work&& work) {
    std::exception_ptr thrown;
    std::optional<decltype(work())> result;
    {
        py::gil_scoped_release released;
        try {
            result.emplace(work());
        } catch (...) {
            thrown = std::current_exception();
        }
    }
    if (thrown) raise(kelvo::hostError(thrown, deliverableName));
    return std::move(*result);
}

std::string loadJSON(const std::string& path) {
    return withoutGIL([&] {
        std::shared_ptr<kelvo::Scene> scene = kelvo::SceneLoader().load(path);
        return kelvo::sceneToJSON(*scene, path);
    });
}

py::bytes thumbnail(const std::string& path, int size) {
    if (size < 1 || size > 4096) throw py::value_error("size must be 1 to 4096 pixels");
    std::vector<std::uint8_t> png = withoutGIL([&] {
        kelvo::ThumbnailerOptions options;
        options.input = path;
        options.size = size;
        // A process-wide limit would reach the interpreter: only the isolated mode has one.
        options.timeLimitSeconds = 0;
        options.memoryBudgetBytes = 0;
        std::variant<std::vector<std::uint8_t>, kelvo::Error> made =
            kelvo::makeThumbnailPNG(options);
        if (const kelvo::Error* error = std::get_if<kelvo::Error>(&made)) throw *error;
        return std::get<0>(std::move(made));
    });
    return py::bytes(reinterpret_cast<const char*>(png.data()), png.size());
}

py::array_t<std::uint8_t> toArray(const kelvo::RGBAImage& image) {
    py::array_t<std::uint8_t> array({image.height, image.width, 4});
    std::memcpy(array.mutable_data(), image.pixels.data(), image.pixels.size());
    return array;
}

py::array_t<std::uint8_t> render(const std::string& path, int width, int height, bool mark) {
    if (width < 1 || height < 1 || width > kelvo::maxRenderSide || height > kelvo::maxRenderSide) {
        throw py::value_error("width and height must be 1 to 8192 pixels");
    }
    kelvo::RGBAImage image = withoutGIL([&] {
        kelvo::SceneLoader loader;
        // Textures are decoded at the size the picture can use. The setting is process-wide
        // and atomic; a side by side call may decode at its own size, never wrongly.
        kelvo::setMaximumTextureSide(kelvo::textureSideForThumbnail(std::max(width, height)));
        std::shared_ptr<kelvo::Scene> scene = loader.load(path);
        const kelvo::Size size{static_cast<double>(width), static_cast<double>(height)};
        std::optional<kelvo::RGBAImage> frame =
            mark ? loader.renderToImage(*scene, size) : loader.renderFrame(*scene, size);
        if (!frame) {
            throw kelvo::makeError(std::string(kelvo::genericErrorDomain), -1,
                                   "The scene could not be rendered");
        }
        return std::move(*frame);
    });
    return toArray(image);
}

py::array_t<std::uint8_t> decodePNG(const py::bytes& bytes) {
    const std::string_view data = bytes;
    std::optional<kelvo::RGBAImage> image = kelvo::decodePNG(
        kelvo::ByteSpan(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
    if (!image) raise(kelvo::makeError(std::string(kelvo::genericErrorDomain), -1, "Not a PNG"));
    return toArray(*image);
}

}  // namespace

PYBIND11_MODULE(_kelvo, module) {
    module.doc() = "Kelvo's model loading and rendering, in this process";
    static py::exception<Failure> failure(module, "_Failure");
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const Failure& f) {
            py::object args =
                py::make_tuple(f.error.domain(), f.error.code(), kelvo::errorMessage(f.error));
            PyErr_SetObject(failure.ptr(), args.ptr());
        }
    });
    module.def("load_json", &loadJSON, py::arg("path"));
    module.def("thumbnail", &thumbnail, py::arg("path"), py::arg("size") = 256);
    module.def("render", &render, py::arg("path"), py::arg("width"), py::arg("height"),
               py::arg("mark") = true);
    module.def("decode_png", &decodePNG, py::arg("png"));
    module.attr("version") = KELVO_VERSION;
}
