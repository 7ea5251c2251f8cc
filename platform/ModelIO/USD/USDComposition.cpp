#include "platform/ModelIO/USD/USDComposition.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "platform/Foundation/ReferencedFile.h"
#include "platform/ModelIO/USD/USDATextReader.h"
#include "platform/ModelIO/USD/USDCrateReader.h"

namespace kelvo::usd {

namespace {

using Selections = std::vector<std::pair<std::string, std::string>>;

std::string childPath(std::string_view parent, std::string_view name) {
    std::string path(parent == "/" ? "" : parent);
    path += '/';
    path += name;
    return path;
}

std::string fileName(const LayerFile& file) {
    return file.path.filename().string();
}

class Composer {
public:
    explicit Composer(Stage& stage) : stage_(stage) {}

    void compose(const std::filesystem::path& rootFile, ByteBuffer bytes) {
        LayerFile* root = addLayer(rootFile, bytes);
        ByteBuffer().swap(bytes);  // the layer holds what it needs
        if (!root->error.empty()) stage_.messages.push_back(root->error);
        stage_.upAxis = root->layer.upAxis;
        stage_.metersPerUnit = root->layer.metersPerUnit;
        stage_.defaultPrim = root->layer.defaultPrim;
        const LayerStack* stack = stackFor(root);
        Prim& pseudoRoot = stage_.prims.emplace_back();
        pseudoRoot.path = "/";
        pseudoRoot.specifier = Specifier::def;
        for (const LayerFile* layer : stack->layers) {
            pseudoRoot.opinions.push_back({&layer->layer.root, layer, stack, nullptr, "/"});
        }
        stage_.byPath.emplace("/", 0);
        composeChildren(0, 1);
    }

private:
    void note(std::string message) {
        // A hostile file could make millions of the same complaint; a few tell the story.
        if (stage_.messages.size() < 64) stage_.messages.push_back(std::move(message));
    }

    LayerFile* addLayer(const std::filesystem::path& path, const ByteBuffer& bytes) {
        auto file = std::make_unique<LayerFile>();
        file->path = path;
        file->error = readLayer(bytes, file->layer);
        if (!file->error.empty()) file->error = fileName(*file) + ": " + file->error;
        LayerFile* made = file.get();
        files_.emplace(path.lexically_normal().string(), made);
        stage_.layers.push_back(std::move(file));
        return made;
    }

    // The layer `assetPath` names from `from`, read once per stage; null when it cannot be.
    const LayerFile* openLayer(const LayerFile& from, std::string_view assetPath,
                               std::string_view role) {
        const std::string what = std::string(role) + " @" + std::string(assetPath) + "@ of " +
                                 fileName(from) + " is skipped: ";
        if (stage_.package && insidePackage(*stage_.package, from.path))
            return openPackageLayer(from, assetPath, what);
        std::string reason;
        std::optional<std::filesystem::path> path =
            resolveReference(from.path, assetPath, ReferenceSyntax::path, &reason);
        if (!path) {
            note(what + reason);
            return nullptr;
        }
        const std::string key = path->lexically_normal().string();
        if (auto it = files_.find(key); it != files_.end()) return it->second;
        // A file that could not be read is not tried again (nor complained about).
        if (failed_.contains(key)) return nullptr;
        if (stage_.layers.size() >= maxLayersPerStage) {
            note(what + "the stage already has " + std::to_string(maxLayersPerStage) + " layers");
            return nullptr;
        }
        ReferencedFile file =
            readReferencedFile(from.path, assetPath, ReferenceSyntax::path, layerFileSizeLimit);
        if (file.outcome != ReferenceOutcome::read) {
            note(what + file.reason);
            failed_.insert(key);
            return nullptr;
        }
        if (auto it = files_.find(file.path.lexically_normal().string()); it != files_.end()) {
            return it->second;  // found under another letter case
        }
        return added(file.path, file.contents, what);
    }

    // A layer of the stage's package, named from another of its layers.
    const LayerFile* openPackageLayer(const LayerFile& from, std::string_view assetPath,
                                      const std::string& what) {
        if (stage_.layers.size() >= maxLayersPerStage) {
            note(what + "the stage already has " + std::to_string(maxLayersPerStage) + " layers");
            return nullptr;
        }
        PackageFile file = readPackageFile(*stage_.package, from.path, assetPath, layerFileSizeLimit);
        if (file.path.empty()) {
            note(what + file.reason);
            return nullptr;
        }
        if (auto it = files_.find(file.path.lexically_normal().string()); it != files_.end())
            return it->second;
        return added(file.path, file.contents, what);
    }

    const LayerFile* added(const std::filesystem::path& path, const ByteBuffer& contents,
                           const std::string& what) {
        LayerFile* layer = addLayer(path, contents);
        if (!layer->error.empty()) {
            const Layer& l = layer->layer;
            const bool nothing = l.root.children.empty() && l.subLayers.empty();
            note(what.substr(0, what.size() - 12) + (nothing ? "is skipped: " : "is read in part: ") +
                 layer->error);
        }
        return layer;
    }

    const LayerStack* stackFor(const LayerFile* root) {
        if (auto it = stackOf_.find(root); it != stackOf_.end()) return it->second;
        auto stack = std::make_unique<LayerStack>();
        std::vector<const LayerFile*> chain;
        addToStack(*stack, root, chain);
        LayerStack* made = stack.get();
        stage_.stacks.push_back(std::move(stack));
        stackOf_.emplace(root, made);
        return made;
    }

    void addToStack(LayerStack& stack, const LayerFile* layer, std::vector<const LayerFile*>& chain) {
        if (std::find(stack.layers.begin(), stack.layers.end(), layer) != stack.layers.end()) return;
        stack.layers.push_back(layer);
        chain.push_back(layer);
        for (const std::string& sub : layer->layer.subLayers) {
            if (chain.size() >= static_cast<std::size_t>(maxSubLayerDepth)) {
                note("sub-layer @" + sub + "@ of " + fileName(*layer) +
                     " is skipped: sub-layers nest deeper than " + std::to_string(maxSubLayerDepth));
                continue;
            }
            const LayerFile* next = openLayer(*layer, sub, "sub-layer");
            if (!next) continue;
            if (std::find(chain.begin(), chain.end(), next) != chain.end()) {
                note("sub-layer @" + sub + "@ of " + fileName(*layer) +
                     " is skipped: it is a sub-layer of itself");
                continue;
            }
            addToStack(stack, next, chain);
        }
        chain.pop_back();
    }

    // ---- one prim -------------------------------------------------------------------------

    struct Visited {
        std::vector<std::pair<const LayerStack*, std::string>> targets;
        bool contains(const LayerStack* stack, std::string_view path) const {
            for (const auto& t : targets) {
                if (t.first == stack && t.second == path) return true;
            }
            return false;
        }
    };

    void composePrim(std::uint32_t parent, std::string_view name, std::vector<Opinion> local,
                     int depth) {
        if (stage_.prims.size() >= maxPrimsPerStage) {
            if (!primBudgetNoted_) note("the stage has more than " + std::to_string(maxPrimsPerStage) + " prims; the rest are skipped");
            primBudgetNoted_ = true;
            return;
        }
        std::vector<Opinion> opinions;
        Selections selections;
        Visited visited;
        for (const Opinion& o : local)
            visited.targets.emplace_back(o.stack, o.opinionPath);
        parent_ = parent;
        expand(opinions, std::move(local), selections, visited, 0);

        Prim prim;
        prim.name = name;
        prim.path = childPath(stage_.prims[parent].path, name);
        prim.parent = parent;
        bool hasSpecifier = false, hasActive = false, hasInstanceable = false;
        for (const Opinion& o : opinions) {
            const PrimOpinion& s = *o.opinion;
            if (prim.typeName.empty()) prim.typeName = s.typeName;
            if (!hasSpecifier && s.specifier != Specifier::over) {
                prim.specifier = s.specifier;
                hasSpecifier = true;
            }
            if (!hasActive && s.hasActive) {
                prim.active = s.active;
                hasActive = true;
            }
            if (!hasInstanceable && s.hasInstanceable) {
                prim.instanceable = s.instanceable;
                hasInstanceable = true;
            }
        }
        prim.opinions = std::move(opinions);
        const auto index = static_cast<std::uint32_t>(stage_.prims.size());
        stage_.byPath.emplace(prim.path, index);
        stage_.prims.push_back(std::move(prim));
        stage_.prims[parent].children.push_back(index);
        composeChildren(index, depth + 1);
    }

    void composeChildren(std::uint32_t index, int depth) {
        if (depth > maxNamespaceDepth) {
            note("prims below " + stage_.prims[index].path + " are skipped: namespace deeper than " +
                 std::to_string(maxNamespaceDepth));
            return;
        }
        // Each child's local opinions: the same-named child of every opinion, in order.
        std::vector<std::string_view> names;
        std::vector<std::vector<Opinion>> childOpinions;
        std::unordered_map<std::string_view, std::size_t> slot;
        for (const Opinion& o : stage_.prims[index].opinions) {
            for (const PrimOpinion& child : o.opinion->children) {
                auto [it, added] = slot.emplace(child.name, names.size());
                if (added) {
                    names.push_back(child.name);
                    childOpinions.emplace_back();
                }
                childOpinions[it->second].push_back(
                    {&child, o.layer, o.stack, o.map, childPath(o.opinionPath, child.name)});
            }
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            composePrim(index, names[i], std::move(childOpinions[i]), depth);
        }
    }

    bool spend(std::size_t n) {
        if (opinionCount_ + n > maxOpinionsPerStage) {
            if (!opinionBudgetNoted_) note("the stage has more than " + std::to_string(maxOpinionsPerStage) + " opinions; the rest are skipped");
            opinionBudgetNoted_ = true;
            return false;
        }
        opinionCount_ += n;
        return true;
    }

    // Appends `group` to `out`, then (weaker) what its arcs bring, in the order inherits,
    // variants, references, payloads, specializes.
    void expand(std::vector<Opinion>& out, std::vector<Opinion> group, Selections& selections,
                Visited& visited, int depth) {
        if (group.empty()) return;
        if (out.size() + group.size() > maxOpinionsPerPrim || !spend(group.size())) {
            note("opinions of " + group.front().opinionPath + " beyond " +
                 std::to_string(maxOpinionsPerPrim) + " are skipped");
            return;
        }
        for (const Opinion& o : group) {
            for (const auto& selection : o.opinion->variantSelections) {
                const bool known = std::any_of(selections.begin(), selections.end(),
                                               [&](const auto& s) { return s.first == selection.first; });
                if (!known) selections.push_back(selection);
            }
        }
        std::vector<Opinion> inherited, variants, referenced, payloads, specialized;
        for (const Opinion& o : group) {
            for (const std::string& path : o.opinion->inherits.items())
                classOpinions(o, path, inherited, visited);
            for (const VariantSet& set : o.opinion->variantSets) {
                if (const Variant* v = selectedVariant(set, selections))
                    variants.push_back({&v->opinion, o.layer, o.stack, o.map, o.opinionPath});
            }
            for (const Reference& r : o.opinion->references.items())
                referenceOpinions(o, r, "reference", referenced, visited);
            for (const Reference& r : o.opinion->payloads.items())
                referenceOpinions(o, r, "payload", payloads, visited);
            for (const std::string& path : o.opinion->specializes.items())
                classOpinions(o, path, specialized, visited);
        }
        for (Opinion& o : group)
            out.push_back(std::move(o));
        for (auto* next : {&inherited, &variants, &referenced, &payloads, &specialized}) {
            expand(out, std::move(*next), selections, visited, depth + 1);
        }
    }

    static const Variant* selectedVariant(const VariantSet& set, const Selections& selections) {
        if (set.variants.empty()) return nullptr;
        for (const auto& [name, variant] : selections) {
            if (name != set.name) continue;
            for (const Variant& v : set.variants) {
                if (v.name == variant) return &v;
            }
            return nullptr;  // a selection naming no variant of this set selects none
        }
        return &set.variants.front();
    }

    void classOpinions(const Opinion& o, const std::string& written, std::vector<Opinion>& out,
                       Visited& visited) {
        const std::string path = absolutePath(o.opinionPath, written);
        if (visited.contains(o.stack, path)) return;
        visited.targets.emplace_back(o.stack, path);
        auto map = std::make_shared<PathMap>(PathMap{path, o.opinionPath, o.map});
        for (const LayerFile* layer : o.stack->layers) {
            if (const PrimOpinion* opinion = layer->layer.primAtPath(path))
                out.push_back({opinion, layer, o.stack, map, path});
        }
    }

    void referenceOpinions(const Opinion& o, const Reference& r, std::string_view role,
                           std::vector<Opinion>& out, Visited& visited) {
        const LayerStack* stack = o.stack;
        std::string target = r.primPath;
        std::string where = "the layer stack of " + fileName(*o.layer);
        if (!r.assetPath.empty()) {
            const LayerFile* layer = openLayer(*o.layer, r.assetPath, role);
            if (!layer) return;
            stack = stackFor(layer);
            where = fileName(*layer);
            if (target.empty()) {
                if (layer->layer.defaultPrim.empty()) {
                    note(std::string(role) + " @" + r.assetPath + "@ of " + fileName(*o.layer) +
                         " is skipped: it names no prim and " + where + " has no default prim");
                    return;
                }
                target = "/" + layer->layer.defaultPrim;
            }
        } else if (target.empty()) {
            return;
        }
        target = absolutePath("/", target);
        if (visited.contains(stack, target)) {
            note(std::string(role) + " to <" + target + "> in " + where + " from " + o.opinionPath +
                 " is skipped: it leads back to a prim already composed there");
            return;
        }
        // A target that already makes one of this prim's ancestors would repeat the
        // namespace below it without end.
        for (std::uint32_t i = parent_;; i = stage_.prims[i].parent) {
            for (const Opinion& a : stage_.prims[i].opinions) {
                if (a.stack == stack && a.opinionPath == target) {
                    note(std::string(role) + " to <" + target + "> in " + where + " from " +
                         o.opinionPath + " is skipped: it leads back to an ancestor of the prim");
                    return;
                }
            }
            if (i == 0) break;
        }
        visited.targets.emplace_back(stack, target);
        auto map = std::make_shared<PathMap>(PathMap{target, o.opinionPath, o.map});
        const std::size_t before = out.size();
        for (const LayerFile* layer : stack->layers) {
            if (const PrimOpinion* opinion = layer->layer.primAtPath(target))
                out.push_back({opinion, layer, stack, map, target});
        }
        if (out.size() == before) {
            note(std::string(role) + " to <" + target + "> in " + where + " from " + o.opinionPath +
                 " is skipped: there is no such prim");
        }
    }

    Stage& stage_;
    std::unordered_map<std::string, LayerFile*> files_;
    std::unordered_set<std::string> failed_;
    std::unordered_map<const LayerFile*, const LayerStack*> stackOf_;
    std::size_t opinionCount_ = 0;
    std::uint32_t parent_ = 0;  // of the prim being composed
    bool opinionBudgetNoted_ = false, primBudgetNoted_ = false;
};

}  // namespace

bool isBinaryLayer(ByteSpan bytes) {
    return bytes.size() >= 8 && std::memcmp(bytes.data(), "PXR-USDC", 8) == 0;
}

std::string readLayer(ByteSpan bytes, Layer& layer) {
    if (looksLikeUSDA(bytes)) return readUSDA(bytes, layer);
    if (isBinaryLayer(bytes)) return readCrate(bytes, layer);
    return "not a USD layer: it starts neither with #usda nor with PXR-USDC";
}

std::string mapPath(const PathMap* map, std::string path) {
    for (; map; map = map->outer.get()) {
        const std::string& from = map->from;
        if (path.size() >= from.size() && path.compare(0, from.size(), from) == 0 &&
            (path.size() == from.size() || path[from.size()] == '/' || path[from.size()] == '.')) {
            path = map->to + path.substr(from.size());
        }
    }
    return path;
}

std::string absolutePath(std::string_view anchor, std::string_view target) {
    std::vector<std::string> parts;
    auto push = [&](std::string_view path) {
        std::size_t at = 0;
        while (at <= path.size()) {
            std::size_t slash = path.find('/', at);
            if (slash == std::string_view::npos) slash = path.size();
            const std::string_view part = path.substr(at, slash - at);
            if (part == "..") {
                if (!parts.empty()) parts.pop_back();
            } else if (part.size() > 1 && part.front() == '.' && !parts.empty()) {
                parts.back() += part;  // ".outputs:rgb": a property of the prim so far
            } else if (!part.empty() && part != ".") {
                parts.emplace_back(part);
            }
            at = slash + 1;
        }
    };
    if (target.empty() || target.front() != '/') push(anchor);
    push(target);
    std::string out;
    for (const std::string& part : parts)
        out.append(1, '/').append(part);
    return out.empty() ? "/" : out;
}

const Prim* Stage::primAtPath(std::string_view path) const {
    auto it = byPath.find(std::string(path));
    return it == byPath.end() ? nullptr : &prims[it->second];
}

ResolvedProperty Stage::attribute(const Prim& prim, std::string_view name) const {
    for (const Opinion& o : prim.opinions) {
        const Property* p = o.opinion->property(name);
        if (p && p->hasValue) {
            if (p->value.blocked) return {};
            return {p, &o};
        }
    }
    return {};
}

ResolvedProperty Stage::targeted(const Prim& prim, std::string_view name) const {
    for (const Opinion& o : prim.opinions) {
        const Property* p = o.opinion->property(name);
        if (p && p->hasTargets) return {p, &o};
    }
    return {};
}

std::vector<std::string> Stage::targets(const Prim& prim, std::string_view name) const {
    std::vector<std::string> out;
    ResolvedProperty r = targeted(prim, name);
    if (!r) return out;
    for (const std::string& t : r.property->targets)
        out.push_back(mapPath(r.opinion->map.get(), absolutePath(r.opinion->opinionPath, t)));
    return out;
}

std::string Stage::interpolation(const Prim& prim, std::string_view name) const {
    for (const Opinion& o : prim.opinions) {
        const Property* p = o.opinion->property(name);
        if (p && !p->interpolation.empty()) return p->interpolation;
    }
    return {};
}

Stage composeStage(const std::filesystem::path& rootFile, ByteBuffer bytes,
                   std::shared_ptr<const Package> package) {
    Stage stage;
    stage.package = std::move(package);
    Composer(stage).compose(rootFile, std::move(bytes));
    return stage;
}

}  // namespace kelvo::usd
