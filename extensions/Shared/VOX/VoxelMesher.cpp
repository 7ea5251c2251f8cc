// How the mesher stays fast: the face test and the merge only ever touch faces.
//
// A face at slice s of axis d lies where the occupancy of cells s - 1 and s differs. Occupancy
// is kept as bit rows along x (one 64-bit word per 64 cells), so the faces of a whole row of a
// slice come out of one XOR: directly for z slices, through 64x64 bit transposes for x and y
// slices, whose rows run along other axes. The slice mask is filled only where a face bit is
// set, and the merge walks the set bits only; every entry it fills is consumed by a quad, so
// the mask is all zero again after each slice and is never cleared. A slice without faces
// costs a scan of its bit rows and nothing else, so a solid 256^3 block meshes in the time of
// its six sides plus one pass over its bytes.
//
// Quads are first recorded in 8 bytes each; once their number is known the four output
// buffers are allocated at their exact size and filled in one pass.
#include "extensions/Shared/VOX/VoxelMesher.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvo {

namespace {

using Word = std::uint64_t;

constexpr std::uint32_t outsidePaletteColor = 0xFF808080;
// The coarsest meshing of a model past the quad budget: cells of 4 x 4 x 4 voxels.
constexpr int maxCellEdge = 4;

// The voxel passes read a voxel as one 32-bit word with x in its low byte.
static_assert(std::endian::native == std::endian::little);

// Transposes a 64x64 bit matrix in place: afterwards bit r of word c is what bit c of word r
// was. Swaps ever smaller blocks (32, 16, ... 1 wide) across the diagonal.
void transpose64(Word a[64]) {
    Word m = 0x00000000FFFFFFFFull;
    for (int j = 32; j != 0; j >>= 1, m ^= (m << j)) {
        for (int k = 0; k < 64; k = ((k | j) + 1) & ~j) {
            Word t = ((a[k] >> j) ^ a[k | j]) & m;
            a[k] ^= t << j;
            a[k | j] ^= t;
        }
    }
}

// The first set bit at or after `from` in a row of `words` words, or -1.
int nextSetBit(const Word* row, int words, int from) {
    int w = from >> 6;
    if (w >= words) return -1;
    Word bits = row[w] & (~Word{0} << (from & 63));
    while (bits == 0) {
        if (++w == words) return -1;
        bits = row[w];
    }
    return w * 64 + __builtin_ctzll(bits);
}

// One recorded quad: slice, origin and extent in the local grid, axis, facing and colour.
struct Quad {
    std::uint16_t s;
    std::uint8_t i, j;
    std::uint8_t widthMinus1, heightMinus1;
    std::uint8_t color;
    std::uint8_t axisAndSign;  // axis in bits 0-1, bit 2 set when facing the low side
};
static_assert(sizeof(Quad) == 8);

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// A dense byte grid covering only the bounding box of the filled cells, with the occupancy
// bit rows and the slice mask derived from it.
class Mesher {
public:
    Mesher(const int origin[3], const int extent[3]) {
        for (int a = 0; a < 3; ++a) {
            origin_[a] = origin[a];
            ext_[a] = extent[a];
            words_[a] = (extent[a] + 63) / 64;
        }
        stride_[0] = 1;
        stride_[1] = static_cast<size_t>(ext_[0]);
        stride_[2] = static_cast<size_t>(ext_[0]) * ext_[1];
        // calloc: pages of empty space are never touched and stay free of cost.
        grid_.reset(static_cast<std::uint8_t*>(std::calloc(stride_[2] * ext_[2], 1)));
        if (!grid_) throw std::bad_alloc();
    }

    std::uint8_t* grid() { return grid_.get(); }
    size_t cellIndex(int x, int y, int z) const { return x + y * stride_[1] + z * stride_[2]; }

    // Records the quads of all three axes; false when there would be more than `maxQuads`.
    bool mesh(std::int64_t maxQuads) {
        maxQuads_ = maxQuads;
        buildOccupancy();
        size_t maskSize = std::max({stride_[2], static_cast<size_t>(ext_[1]) * ext_[2],
                                    static_cast<size_t>(ext_[2]) * ext_[0]});
        mask_.assign(maskSize, 0);
        return meshAxisX() && meshAxisY() && meshAxisZ();
    }

    const std::vector<Quad>& quads() const { return quads_; }
    const int* origin() const { return origin_; }
    const int* extent() const { return ext_; }
    const std::uint8_t* grid() const { return grid_.get(); }

private:
    const Word* occupancyRow(int y, int z) const {
        return occupancy_.data() + (static_cast<size_t>(z) * ext_[1] + y) * words_[0];
    }

    void buildOccupancy() {
        const int X = ext_[0], wx = words_[0];
        occupancy_.assign(static_cast<size_t>(ext_[1]) * ext_[2] * wx, 0);
        for (int z = 0; z < ext_[2]; ++z) {
            for (int y = 0; y < ext_[1]; ++y) {
                const std::uint8_t* cells = grid_.get() + cellIndex(0, y, z);
                Word* row = occupancy_.data() + (static_cast<size_t>(z) * ext_[1] + y) * wx;
                int x = 0;
#if defined(__SSE2__)
                const __m128i zero = _mm_setzero_si128();
                for (; x + 16 <= X; x += 16) {
                    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + x));
                    Word empty =
                        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)));
                    row[x >> 6] |= (~empty & 0xFFFF) << (x & 63);
                }
#endif
                for (; x < X; ++x)
                    row[x >> 6] |= Word{cells[x] != 0} << (x & 63);
            }
        }
    }

    // x slices: rows run along z, bits along y. The x transitions of each occupancy row are
    // transposed 64 x 64 at a time into rows of every slice at once.
    bool meshAxisX() {
        const int X = ext_[0], Y = ext_[1], Z = ext_[2], wx = words_[0], wy = words_[1];
        const int sliceWords = (X + 1 + 63) / 64;  // transition bits 0..X
        std::vector<Word> slices(static_cast<size_t>(X + 1) * Z * wy, 0);
        Word block[64];
        for (int z = 0; z < Z; ++z) {
            for (int yb = 0; yb < wy; ++yb) {
                for (int sb = 0; sb < sliceWords; ++sb) {
                    Word any = 0;
                    for (int r = 0; r < 64; ++r) {
                        int y = yb * 64 + r;
                        Word t = 0;
                        if (y < Y) {
                            const Word* occ = occupancyRow(y, z);
                            Word cur = sb < wx ? occ[sb] : 0;
                            Word carry = sb > 0 ? occ[sb - 1] >> 63 : 0;
                            t = cur ^ (cur << 1 | carry);
                        }
                        block[r] = t;
                        any |= t;
                    }
                    if (any == 0) continue;
                    transpose64(block);
                    for (int c = 0; c < 64; ++c) {
                        int s = sb * 64 + c;
                        if (s > X) break;
                        slices[(static_cast<size_t>(s) * Z + z) * wy + yb] = block[c];
                    }
                }
            }
        }
        for (int s = 0; s <= X; ++s) {
            if (!meshSlice(0, s, slices.data() + static_cast<size_t>(s) * Z * wy, wy)) return false;
        }
        return true;
    }

    // y slices: rows run along x, bits along z, from the differences of neighbouring
    // occupancy rows transposed per slice.
    bool meshAxisY() {
        const int X = ext_[0], Y = ext_[1], Z = ext_[2], wx = words_[0], wz = words_[2];
        std::vector<Word> slice(static_cast<size_t>(X) * wz);
        Word block[64];
        for (int s = 0; s <= Y; ++s) {
            std::fill(slice.begin(), slice.end(), 0);
            Word anyInSlice = 0;
            for (int zb = 0; zb < wz; ++zb) {
                for (int xb = 0; xb < wx; ++xb) {
                    Word any = 0;
                    for (int r = 0; r < 64; ++r) {
                        int z = zb * 64 + r;
                        Word t = 0;
                        if (z < Z) {
                            Word below = s > 0 ? occupancyRow(s - 1, z)[xb] : 0;
                            Word above = s < Y ? occupancyRow(s, z)[xb] : 0;
                            t = below ^ above;
                        }
                        block[r] = t;
                        any |= t;
                    }
                    if (any == 0) continue;
                    anyInSlice |= any;
                    transpose64(block);
                    for (int c = 0; c < 64; ++c) {
                        int x = xb * 64 + c;
                        if (x >= X) break;
                        slice[static_cast<size_t>(x) * wz + zb] = block[c];
                    }
                }
            }
            if (anyInSlice && !meshSlice(1, s, slice.data(), wz)) return false;
        }
        return true;
    }

    // z slices: rows run along y, bits along x: the occupancy rows' own layout.
    bool meshAxisZ() {
        const int Y = ext_[1], Z = ext_[2], wx = words_[0];
        std::vector<Word> slice(static_cast<size_t>(Y) * wx);
        for (int s = 0; s <= Z; ++s) {
            Word any = 0;
            for (int y = 0; y < Y; ++y) {
                for (int w = 0; w < wx; ++w) {
                    Word below = s > 0 ? occupancyRow(y, s - 1)[w] : 0;
                    Word above = s < Z ? occupancyRow(y, s)[w] : 0;
                    slice[static_cast<size_t>(y) * wx + w] = below ^ above;
                    any |= below ^ above;
                }
            }
            if (any && !meshSlice(2, s, slice.data(), wx)) return false;
        }
        return true;
    }

    // Fills the mask where `rows` has face bits, then merges greedily. Rows are the second
    // in-plane axis, bits the first; `rowWords` words per row.
    bool meshSlice(int d, int s, const Word* rows, int rowWords) {
        const int u = (d + 1) % 3, v = (d + 2) % 3;
        const int U = ext_[u], V = ext_[v], D = ext_[d];
        const size_t sd = stride_[d], su = stride_[u], sv = stride_[v];
        const std::uint8_t* grid = grid_.get();
        std::int16_t* mask = mask_.data();

        for (int b = 0; b < V; ++b) {
            const Word* row = rows + static_cast<size_t>(b) * rowWords;
            for (int w = 0; w < rowWords; ++w) {
                for (Word bits = row[w]; bits != 0; bits &= bits - 1) {
                    const int a = w * 64 + __builtin_ctzll(bits);
                    const size_t cell = s * sd + a * su + b * sv;
                    // A face bit means exactly one side is filled.
                    const int below = s > 0 ? grid[cell - sd] : 0;
                    const int above = s < D ? grid[cell] : 0;
                    mask[static_cast<size_t>(b) * U + a] =
                        static_cast<std::int16_t>(below != 0 ? below : -above);
                }
            }
        }

        for (int j = 0; j < V; ++j) {
            const Word* row = rows + static_cast<size_t>(j) * rowWords;
            int i = 0;
            while ((i = nextSetBit(row, rowWords, i)) >= 0) {
                std::int16_t* at = mask + static_cast<size_t>(j) * U + i;
                const std::int16_t k = *at;
                if (k == 0) {  // taken by a quad of an earlier row
                    ++i;
                    continue;
                }
                int w = 1;
                while (i + w < U && at[w] == k)
                    ++w;
                int h = 1;
                while (j + h < V && std::all_of(at + static_cast<size_t>(h) * U,
                                                at + static_cast<size_t>(h) * U + w,
                                                [k](std::int16_t e) { return e == k; })) {
                    ++h;
                }
                if (static_cast<std::int64_t>(quads_.size()) >= maxQuads_) return false;
                quads_.push_back(Quad{
                    static_cast<std::uint16_t>(s), static_cast<std::uint8_t>(i),
                    static_cast<std::uint8_t>(j), static_cast<std::uint8_t>(w - 1),
                    static_cast<std::uint8_t>(h - 1), static_cast<std::uint8_t>(k > 0 ? k : -k),
                    static_cast<std::uint8_t>(d | (k < 0 ? 4 : 0))});
                for (int r = 0; r < h; ++r)
                    std::fill_n(at + static_cast<size_t>(r) * U, w, 0);
                i += w;
            }
        }
        return true;
    }

    int origin_[3];
    int ext_[3];
    int words_[3];
    size_t stride_[3];
    std::unique_ptr<std::uint8_t, FreeDeleter> grid_;
    std::vector<Word> occupancy_;  // bit x of row (y, z): cell (x, y, z) is filled
    std::vector<std::int16_t> mask_;
    std::vector<Quad> quads_;
    std::int64_t maxQuads_ = 0;
};

std::shared_ptr<Material> makeVoxelMaterial() {
    auto material = std::make_shared<Material>();
    material->lightingModelName = LightingModel::physicallyBased;
    material->diffuse = Color::white(1, 1);
    material->metalness = 0.0;
    material->roughness = 0.8;
    return material;
}

template <size_t N>
void put(ByteBuffer& buffer, size_t at, const float (&values)[N]) {
    std::memcpy(buffer.data() + at, values, sizeof values);
}

// The node for the recorded quads: four vertices and six indices each. A cell of the grid
// the quads were found on is `cellEdge` voxels on each side.
std::shared_ptr<Node> makeNode(const std::vector<Quad>& quads, const int origin[3],
                               const VOXChunk& chunk, std::span<const std::uint32_t> palette,
                               int cellEdge = 1) {
    float rgb[256][3];
    for (int m = 0; m < 256; ++m) {
        std::uint32_t c =
            static_cast<size_t>(m) < palette.size() ? palette[m] : outsidePaletteColor;
        rgb[m][0] = static_cast<float>(c & 0xFF) / 255.0f;
        rgb[m][1] = static_cast<float>(c >> 8 & 0xFF) / 255.0f;
        rgb[m][2] = static_cast<float>(c >> 16 & 0xFF) / 255.0f;
    }
    // The file's axis directions after the y-up turn, for facing +axis.
    static constexpr float axisNormal[3][3] = {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    const float half[3] = {static_cast<float>(chunk.sx) / 2, static_cast<float>(chunk.sy) / 2,
                           static_cast<float>(chunk.sz) / 2};

    const size_t n = quads.size();
    ByteBuffer positions(n * 48), normals(n * 48), colors(n * 48), indices(n * 24);
    for (size_t q = 0; q < n; ++q) {
        const Quad& quad = quads[q];
        const int d = quad.axisAndSign & 3, u = (d + 1) % 3, v = (d + 2) % 3;
        const bool back = quad.axisAndSign & 4;
        int corner[4][3];
        for (int c = 0; c < 4; ++c) {
            corner[c][d] = origin[d] + quad.s;
            corner[c][u] = origin[u] + quad.i;
            corner[c][v] = origin[v] + quad.j;
        }
        corner[1][u] += quad.widthMinus1 + 1;
        corner[2][u] += quad.widthMinus1 + 1;
        corner[2][v] += quad.heightMinus1 + 1;
        corner[3][v] += quad.heightMinus1 + 1;
        for (auto& g : corner) {
            for (int& coordinate : g)
                coordinate *= cellEdge;
        }
        // Counter-clockwise from the empty side: P0 P1 P2 P3 facing up the axis, else P0 P3 P2 P1.
        static constexpr int frontOrder[4] = {0, 1, 2, 3}, backOrder[4] = {0, 3, 2, 1};
        const int* order = back ? backOrder : frontOrder;
        float p[12], nrm[12], col[12];
        const float sign = back ? -1.0f : 1.0f;
        for (int c = 0; c < 4; ++c) {
            const int* g = corner[order[c]];
            p[3 * c + 0] = static_cast<float>(g[0]) - half[0];
            p[3 * c + 1] = static_cast<float>(g[2]) - half[2];
            p[3 * c + 2] = half[1] - static_cast<float>(g[1]);
            for (int k = 0; k < 3; ++k) {
                nrm[3 * c + k] = axisNormal[d][k] * sign + 0.0f;  // no negative zeros
                col[3 * c + k] = rgb[quad.color][k];
            }
        }
        put(positions, q * 48, p);
        put(normals, q * 48, nrm);
        put(colors, q * 48, col);
        const std::uint32_t base = static_cast<std::uint32_t>(q * 4);
        const std::uint32_t idx[6] = {base, base + 1, base + 2, base, base + 2, base + 3};
        std::memcpy(indices.data() + q * 24, idx, sizeof idx);
    }

    const auto vertexCount = static_cast<std::int64_t>(n * 4);
    auto geometry = std::make_shared<Geometry>(
        std::vector<GeometrySource>{
            GeometrySource::floatTriples(std::move(positions), GeometrySemantic::vertex,
                                         vertexCount),
            GeometrySource::floatTriples(std::move(normals), GeometrySemantic::normal, vertexCount),
            GeometrySource::floatTriples(std::move(colors), GeometrySemantic::color, vertexCount)},
        std::vector<GeometryElement>{
            GeometryElement::triangles(std::move(indices), static_cast<std::int64_t>(n * 2))});
    geometry->materials = {makeVoxelMaterial()};
    return Node::withGeometry(std::move(geometry));
}

// The box of the voxels that fill a cell: inside the extent and of a colour other than 0.
// Empty (hi < lo) when there is none.
struct VoxelBox {
    int lo[3] = {255, 255, 255};
    int hi[3] = {-1, -1, -1};
};

VoxelBox boxOfFilledVoxels(const VOXChunk& chunk) {
    VoxelBox box;
    const std::int64_t extent[3] = {chunk.sx, chunk.sy, chunk.sz};
    if (extent[0] <= 0 || extent[1] <= 0 || extent[2] <= 0) return box;
    // The largest coordinate inside the extent, per axis (coordinates are bytes); the colour
    // byte is not limited.
    std::uint8_t limit[4] = {255, 255, 255, 255};
    for (int a = 0; a < 3; ++a) {
        limit[a] = static_cast<std::uint8_t>(std::min<std::int64_t>(extent[a], 256) - 1);
    }
    const VOXVoxel* voxel = chunk.voxels.data();
    const size_t n = chunk.voxels.size();
    size_t i = 0;
    std::uint8_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    bool any = false;
#if defined(__SSE2__)
    // Four voxels per step, one per 32-bit lane (bytes x, y, z, colour): byte-wise running
    // minimum and maximum over the kept voxels, the others forced to 255 and 0.
    std::uint32_t limitWord;
    std::memcpy(&limitWord, limit, 4);
    const __m128i limits = _mm_set1_epi32(static_cast<int>(limitWord));
    const __m128i colorByte = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi32(-1);
    __m128i mins = ones, maxs = zero, kept = zero;
    for (; i + 4 <= n; i += 4) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(voxel + i));
        const __m128i inside = _mm_cmpeq_epi32(_mm_cmpeq_epi8(_mm_min_epu8(w, limits), w), ones);
        const __m128i empty = _mm_cmpeq_epi32(_mm_and_si128(w, colorByte), zero);
        const __m128i keep = _mm_andnot_si128(empty, inside);
        mins = _mm_min_epu8(mins, _mm_or_si128(w, _mm_xor_si128(keep, ones)));
        maxs = _mm_max_epu8(maxs, _mm_and_si128(w, keep));
        kept = _mm_or_si128(kept, keep);
    }
    if (_mm_movemask_epi8(kept) != 0) {
        any = true;
        std::uint8_t minBytes[16], maxBytes[16];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(minBytes), mins);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(maxBytes), maxs);
        for (int lane = 0; lane < 4; ++lane) {
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], minBytes[4 * lane + a]);
                hi[a] = std::max(hi[a], maxBytes[4 * lane + a]);
            }
        }
    }
#endif
    for (; i < n; ++i) {
        const std::uint8_t c[3] = {voxel[i].x, voxel[i].y, voxel[i].z};
        if (voxel[i].colorIndex == 0 || c[0] > limit[0] || c[1] > limit[1] || c[2] > limit[2]) {
            continue;
        }
        any = true;
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], c[a]);
            hi[a] = std::max(hi[a], c[a]);
        }
    }
    if (!any) return box;
    for (int a = 0; a < 3; ++a) {
        box.lo[a] = lo[a];
        box.hi[a] = hi[a];
    }
    return box;
}

// The cells to allocate. A model whose extent (up to 256 per axis) holds no more than a few
// cells per voxel gets its whole extent: the grid then costs no more than the voxels do, and a
// second pass over a voxel list of up to 64 MB would cost more than the cells it saves. A
// sparser model gets the box of its filled cells, so that no extent can make us allocate or
// scan more than its voxels justify.
VoxelBox gridBox(const VOXChunk& chunk) {
    VoxelBox box;
    const std::int64_t extent[3] = {chunk.sx, chunk.sy, chunk.sz};
    std::int64_t cells = 1;
    for (int a = 0; a < 3; ++a) {
        if (extent[a] <= 0) return box;
        cells *= std::min<std::int64_t>(extent[a], 256);
    }
    const auto voxels = static_cast<std::int64_t>(chunk.voxels.size());
    if (cells > 4 * voxels + 4096) return boxOfFilledVoxels(chunk);
    for (int a = 0; a < 3; ++a) {
        box.lo[a] = 0;
        box.hi[a] = static_cast<int>(std::min<std::int64_t>(extent[a], 256)) - 1;
    }
    return box;
}

// The grid of `fine` at 1 / `factor` of its resolution: each cell stands for the factor^3
// block of fine cells it covers (blocks aligned to the model's own grid, so that the coarse
// grid's corners are fine corners times the factor) and takes the most frequent colour of
// its filled cells, the lowest on a tie; a block with no filled cell stays empty. Filled if
// any of its cells is, so nothing thin is lost and the surface stays closed.
std::unique_ptr<Mesher> coarsen(const Mesher& fine, int factor) {
    int origin[3], size[3];
    for (int a = 0; a < 3; ++a) {
        origin[a] = fine.origin()[a] / factor;
        size[a] = (fine.origin()[a] + fine.extent()[a] - 1) / factor - origin[a] + 1;
    }
    auto coarse = std::make_unique<Mesher>(origin, size);
    const int* ext = fine.extent();
    const std::uint8_t* cells = fine.grid();
    std::uint8_t* out = coarse->grid();
    std::uint16_t counts[256] = {};
    std::uint8_t seen[64];
    for (int cz = 0; cz < size[2]; ++cz) {
        for (int cy = 0; cy < size[1]; ++cy) {
            for (int cx = 0; cx < size[0]; ++cx) {
                const int c[3] = {cx, cy, cz};
                int lo[3], hi[3];
                for (int a = 0; a < 3; ++a) {
                    lo[a] = std::max(0, (origin[a] + c[a]) * factor - fine.origin()[a]);
                    hi[a] = std::min(ext[a], (origin[a] + c[a] + 1) * factor - fine.origin()[a]);
                }
                int distinct = 0;
                for (int z = lo[2]; z < hi[2]; ++z) {
                    for (int y = lo[1]; y < hi[1]; ++y) {
                        for (int x = lo[0]; x < hi[0]; ++x) {
                            const std::uint8_t color = cells[fine.cellIndex(x, y, z)];
                            if (color != 0 && counts[color]++ == 0) seen[distinct++] = color;
                        }
                    }
                }
                std::uint8_t best = 0;
                for (int k = 0; k < distinct; ++k) {
                    const std::uint8_t color = seen[k];
                    if (counts[color] > counts[best] ||
                        (counts[color] == counts[best] && color < best)) {
                        best = color;
                    }
                }
                for (int k = 0; k < distinct; ++k)
                    counts[seen[k]] = 0;
                out[coarse->cellIndex(cx, cy, cz)] = best;
            }
        }
    }
    return coarse;
}

}  // namespace

std::shared_ptr<Node> buildVoxelMesh(const VOXChunk& chunk, std::span<const std::uint32_t> palette,
                                     VoxelMeshBudget& budget) {
    const VoxelBox box = gridBox(chunk);
    if (box.hi[0] < box.lo[0]) return makeNode({}, box.lo, chunk, palette);
    const int size[3] = {box.hi[0] - box.lo[0] + 1, box.hi[1] - box.lo[1] + 1,
                         box.hi[2] - box.lo[2] + 1};
    const std::int64_t cells = std::int64_t{size[0]} * size[1] * size[2];
    if (cells > budget.cells) return nullptr;

    Mesher mesher(box.lo, size);
    // Cell index parts per coordinate, with a part too large for any cell outside the box, so
    // one comparison of the sum tells whether a voxel lands in the box. Voxels outside it are
    // outside the extent, or of colour 0 on cells that are empty anyway.
    constexpr std::uint32_t outside = 1u << 30;
    std::uint32_t part[3][256];
    for (int a = 0; a < 3; ++a) {
        const std::uint32_t stride = a == 0 ? 1 : a == 1 ? size[0] : size[0] * size[1];
        for (int c = 0; c < 256; ++c) {
            const int local = c - box.lo[a];
            part[a][c] = local >= 0 && local < size[a] ? local * stride : outside;
        }
    }
    // Later voxels win, colour 0 included: it empties its cell. Each voxel is read as one
    // little-endian word (x, y, z, colour from the low byte up); the restrict qualifiers tell
    // the compiler that the byte stores cannot change the tables or the voxels.
    std::uint8_t* __restrict grid = mesher.grid();
    const std::uint32_t* __restrict partX = part[0];
    const std::uint32_t* __restrict partY = part[1];
    const std::uint32_t* __restrict partZ = part[2];
    const auto* __restrict words = reinterpret_cast<const std::uint8_t*>(chunk.voxels.data());
    auto cellOf = [&](std::uint32_t w) {
        return partX[w & 0xFF] + partY[w >> 8 & 0xFF] + partZ[w >> 16 & 0xFF];
    };
    // Every cell index inside the box is below `outside`, every other sum at or above it, so
    // one test covers four voxels in the common case where all of them land in the box.
    const size_t n = chunk.voxels.size();
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        std::uint32_t w[4];
        std::memcpy(w, words + 4 * k, 16);
        const std::uint32_t c[4] = {cellOf(w[0]), cellOf(w[1]), cellOf(w[2]), cellOf(w[3])};
        if ((c[0] | c[1] | c[2] | c[3]) < outside) {
            for (int q = 0; q < 4; ++q)
                grid[c[q]] = static_cast<std::uint8_t>(w[q] >> 24);
        } else {
            for (int q = 0; q < 4; ++q) {
                if (c[q] < outside) grid[c[q]] = static_cast<std::uint8_t>(w[q] >> 24);
            }
        }
    }
    for (; k < n; ++k) {
        std::uint32_t w;
        std::memcpy(&w, words + 4 * k, 4);
        if (const std::uint32_t c = cellOf(w); c < outside)
            grid[c] = static_cast<std::uint8_t>(w >> 24);
    }
    // Past the quad budget (noise has about a face per cell), the model is meshed again at
    // half and then a quarter of its resolution: a thumbnail shows it whole rather than not
    // at all.
    std::unique_ptr<Mesher> coarse;
    Mesher* meshed = &mesher;
    int cellEdge = 1;
    while (!meshed->mesh(budget.quads)) {
        if (cellEdge == maxCellEdge) return nullptr;
        cellEdge *= 2;
        coarse = coarsen(mesher, cellEdge);
        meshed = coarse.get();
    }
    budget.cells -= cells;
    budget.quads -= static_cast<std::int64_t>(meshed->quads().size());
    return makeNode(meshed->quads(), meshed->origin(), chunk, palette, cellEdge);
}

std::shared_ptr<Node> buildVoxelMesh(const VOXChunk& chunk,
                                     std::span<const std::uint32_t> palette) {
    VoxelMeshBudget budget;
    return buildVoxelMesh(chunk, palette, budget);
}

}  // namespace kelvo
