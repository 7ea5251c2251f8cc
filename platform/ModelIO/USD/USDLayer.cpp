#include "platform/ModelIO/USD/USDLayer.h"

#include <algorithm>

namespace kelvo::usd {

namespace {

template <class T>
std::vector<T> combinedItems(const std::vector<T>& prepended, const std::vector<T>& explicitItems,
                             const std::vector<T>& appended, const std::vector<T>& deleted) {
    std::vector<T> out;
    for (const auto* list : {&prepended, &explicitItems, &appended}) {
        for (const T& item : *list) {
            if (std::find(deleted.begin(), deleted.end(), item) == deleted.end() &&
                std::find(out.begin(), out.end(), item) == out.end())
                out.push_back(item);
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> ListOp::items() const {
    return combinedItems(prepended, explicitItems, appended, deleted);
}

std::vector<Reference> ReferenceListOp::items() const {
    return combinedItems(prepended, explicitItems, appended, deleted);
}

const PrimOpinion* PrimOpinion::child(std::string_view childName) const {
    for (const PrimOpinion& c : children) {
        if (c.name == childName) return &c;
    }
    return nullptr;
}

const Property* PrimOpinion::property(std::string_view propertyName) const {
    for (const Property& p : properties) {
        if (p.name == propertyName) return &p;
    }
    return nullptr;
}

const PrimOpinion* Layer::primAtPath(std::string_view path) const {
    if (path.empty() || path[0] != '/') return nullptr;
    const PrimOpinion* opinion = &root;
    std::size_t at = 1;
    while (opinion && at < path.size()) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string_view::npos) slash = path.size();
        const std::string_view name = path.substr(at, slash - at);
        if (name.empty() || name.find('{') != std::string_view::npos) return nullptr;
        opinion = opinion->child(name);
        at = slash + 1;
    }
    return opinion;
}

}  // namespace kelvo::usd
