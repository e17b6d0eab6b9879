// Prints figures of the tree generator on one core: growing the default
// skeleton with its roots, and reading the sample tree's three stored levels
// of detail, alone and for a level of 20 trees, and a refused record of
// 12 MB whose 64 levels each claim all the children its bytes could hold;
// the ring and mesh passes of the sample tree; on a device, the sample's generation with its buffers and
// bark, and the filling of an entity with it.
#include "BenchDevice.h"
#include "BenchFigures.h"

#include "TreeSamples.h"
#include "TreeStreamWriter.h"

#include "Core/FileArray.h"

#include "Entity/Entity.h"
#include "Entity/Mesh.h"
#include "Entity/StoredMesh.h"
#include "Render/Shader.h"
#include "Tree/BoughMesh.h"
#include "Tree/Branch.h"
#include "Tree/Foliage.h"
#include "Tree/Tree.h"
#include "Tree/TreeParameters.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

double now()
{
    static const double period = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return 1.0 / double(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * period;
}

struct Figures
{
    uint32_t boughs = 0;
    uint32_t bones = 0;
};

void count(Tree::Bough& b, Figures& f)
{
    ++f.boughs;
    f.bones += b.boneCount + b.rootCount * b.rootBoneCount;
    for (uint32_t i = 0; i < b.childCount; ++i)
        count(*b.children.at(int32_t(i)), f);
}

}

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    constexpr int runs = 200;

    // Growth of the default parameters, each run from its own generator state.
    Tree::Bough::Param defaults;
    defaults.root.count = TreeSamples::sampleRoots;
    Figures grown;
    int run = 0;
    const BenchFigures::Spread growth = BenchFigures::repeat(runs, [&] {
        srand(unsigned(++run));
        const double start = now();
        Tree::Bough trunk;
        trunk.genBones(defaults);
        trunk.genRoots(defaults);
        const double took = now() - start;
        if (run == 1)
            count(trunk, grown);
        return took;
    });
    std::printf("default tree: %u boughs, %u bones (with %u roots)\n", grown.boughs, grown.bones,
                TreeSamples::sampleRoots);
    BenchFigures::print("genBones + genRoots, default parameters (budget 2 ms)", growth, 1e3, "ms");

    // The sample's three stored levels, each record in its own memory stream.
    Tree::Bough levels[3];
    TreeStreamWriter::grow(defaults, TreeSamples::sampleSeed, levels);
    FileArray records[3];
    Figures stored;
    for (int i = 0; i < 3; ++i) {
        TreeStreamWriter::writeBough(records[i], levels[i]);
        count(levels[i], stored);
    }
    std::printf("sample levels of detail: %u boughs, %u bones, %u bytes\n", stored.boughs, stored.bones,
                records[0].size() + records[1].size() + records[2].size());
    const auto readLevels = [&records] {
        Tree::Bough read[3];
        const double start = now();
        for (int i = 0; i < 3; ++i) {
            records[i].seek(0, 0);
            read[i].read(records[i]);
        }
        return now() - start;
    };
    BenchFigures::print("read of the sample's three levels (budget 0.2 ms)", BenchFigures::repeat(runs, readLevels),
                        1e3, "ms");

    // A head at each level claiming every child the bytes left could hold,
    // over zeros that read as bare children: refused.
    {
        const size_t size = 12u << 20;
        FileArray claims(4096);
        for (uint32_t d = 0; d < Tree::Bough::maxDepth; ++d) {
            const uint32_t head[6] = {0, 0, 0, uint32_t((size - 24 * (d + 1)) / 24), std::min(d, 3u), 0x3F800000u};
            claims.write(head, sizeof(head));
        }
        const std::vector<uint8_t> zeros(size - claims.size());
        claims.write(zeros.data(), uint32_t(zeros.size()));
        const auto refuse = [&claims] {
            Tree::Bough bough;
            claims.seek(0, 0);
            const double start = now();
            bough.read(claims);
            return now() - start;
        };
        BenchFigures::print("read of a 12 MB record of claimed children (refused)", BenchFigures::repeat(20, refuse),
                            1e3, "ms");
    }

    // The ring and mesh passes over the sample's level 0 skeleton.
    {
        using SourceMesh = EntityManager::Entity::SourceMesh;
        SourceMesh trunkMesh(L"A"), ribbonMesh(L"B");
        int32_t vertices = 0, indices = 0;
        const auto passes = [&] {
            srand(7);
            const double start = now();
            Tree::Bough::genNodes(levels[0], defaults);
            Tree::Bough::genMesh(levels[0], trunkMesh, &ribbonMesh, nullptr, nullptr, defaults);
            const double took = now() - start;
            vertices = trunkMesh.countedVertices();
            indices = trunkMesh.countedIndices();
            return took;
        };
        const BenchFigures::Spread spread = BenchFigures::repeat(runs, passes);
        std::printf("sample level 0 mesh: %d vertices, %d triangles\n", vertices, indices / 3);
        BenchFigures::print("ring and mesh passes of the sample (budget 3 ms)", spread, 1e3, "ms");
    }

    // A whole tree from the sample stream: parameters, three skeletons and
    // the level 0 mesh (no device here: its buffers are not made).
    {
        const std::vector<uint8_t> sample = TreeSamples::sampleTree();
        const auto generate = [&sample] {
            FileArray stream(4096);
            stream.write(sample.data(), uint32_t(sample.size()));
            stream.seek(0, 0);
            const double start = now();
            Tree tree;
            tree.generate(stream);
            return now() - start;
        };
        BenchFigures::print("Tree::generate of the sample (budget 10 ms)", BenchFigures::repeat(runs, generate), 1e3,
                            "ms");
    }

    // A level load's share: 20 trees' streams, parameters and skeletons.
    const std::vector<uint8_t> sample = TreeSamples::sampleTree();
    const auto readTwenty = [&sample] {
        const double start = now();
        for (int tree = 0; tree < 20; ++tree) {
            FileArray stream(4096);
            stream.write(sample.data(), uint32_t(sample.size()));
            stream.seek(4, 0);
            Tree::Bough::Param param;
            Tree::Bough levels[3];
            uint8_t tag = 0;
            while (stream.readValue(tag) && tag != 0) {
                uint32_t skip = 0;
                if (tag == 4)
                    param.read(stream);
                else if (tag == 5 || tag == 10 || tag == 11)
                    levels[tag == 5 ? 0 : tag - 9].read(stream);
                else if (tag == 6 && stream.readValue(skip) && stream.readValue(skip))
                    stream.seek(int32_t(skip), 1);
                else
                    stream.readValue(skip);
            }
        }
        return now() - start;
    };
    BenchFigures::print("20 sample tree streams read (of a level's 1 s)", BenchFigures::repeat(50, readTwenty), 1e3,
                        "ms");

    // Placing 500 cards over the sample's level 0, and merging 500
    // placements of the 12-vertex star card.
    {
        Tree::Bough::ObjectParam cards;
        cards.single = 0;
        cards.kindCount = 0;
        // About 500 cards over the level's boughs.
        ArrayHeap<Tree::Bough::ObjectInfo> placed;
        cards.density = 1.0f;
        srand(3);
        int32_t all = Tree::Bough::placeObjects(levels[0], placed, cards);
        cards.density = std::min(1.0f, 500.0f / float(std::max(all, 1)));
        int32_t count = 0;
        const BenchFigures::Spread placing = BenchFigures::repeat(runs, [&] {
            srand(3);
            const double start = now();
            count = Tree::Bough::placeObjects(levels[0], placed, cards);
            return now() - start;
        });
        std::printf("placed cards: %d\n", count);
        BenchFigures::print("placing ~500 cards (budget 1 ms)", placing, 1e3, "ms");

        Tree::Branch::SourceMesh star{String(L"star")}, merged{String(L"merged")};
        Tree::Branch::makeStarCard(star, 0.4f, 1.0f);
        ArrayHeap<Tree::Bough::ObjectInfo> five;
        five.resize(500);
        for (int32_t i = 0; i < 500; ++i)
            *five.at(i) = *placed.at(i % std::max(count, 1));
        vec3d lo, hi;
        BenchFigures::print("merging 500 placements of a 12-vertex card (budget 1 ms)",
                            BenchFigures::repeat(runs, [&] {
                                const double start = now();
                                Tree::Foliage::merge(star, five, 500, merged, lo, hi);
                                return now() - start;
                            }),
                            1e3, "ms");
    }

    // On a device: generation makes the buffers and the bark texture; an
    // entity is then filled from buffers that exist (state blocks recorded).
    struct Client final : D3D::SwapChainInterface
    {
    } client;
    HWND window = nullptr;
    if (!BenchDevice::open(L"TreeBench", 320, 240, client, window))
        return 0;
    {
        const auto generate = [&sample] {
            FileArray stream(4096);
            stream.write(sample.data(), uint32_t(sample.size()));
            stream.seek(0, 0);
            const double start = now();
            Tree tree;
            tree.generate(stream);
            return now() - start;
        };
        BenchFigures::print("Tree::generate of the sample on a device (budget 10 ms)",
                            BenchFigures::repeat(50, generate), 1e3, "ms");

        FileArray stream(4096);
        stream.write(sample.data(), uint32_t(sample.size()));
        stream.seek(0, 0);
        Tree tree;
        tree.generate(stream);
        EntityManager manager;
        EntityManager::Entity entity(manager);
        const auto fill = [&] {
            const double start = now();
            tree.createEntities(entity, 0, nullptr, [&tree](Shader& record) { tree.setTrunkMaterial(record); },
                                nullptr);
            return now() - start;
        };
        BenchFigures::print("createEntities of the sample (budget 0.05 ms)", BenchFigures::repeat(runs, fill), 1e3,
                            "ms");
        entity.clear();

        // A 512 x 512 picture of the leafy sample's branch, and the sample
        // whose picture is rendered when it loads.
        const std::vector<uint8_t> leafy = TreeSamples::leafyTree(false);
        FileArray leafyStream(4096);
        leafyStream.write(leafy.data(), uint32_t(leafy.size()));
        leafyStream.seek(0, 0);
        Tree leafyTree;
        leafyTree.generate(leafyStream);
        if (Tree::Foliage* foliage = leafyTree.foliage(0)) {
            Tree::Branch::Param param = foliage->param().branch;
            param.pictureSize = {512, 512};
            Tree::Branch::SourceMesh card{String(L"card")};
            BenchFigures::print("a 512 x 512 branch picture (budget 100 ms)", BenchFigures::repeat(9, [&] {
                                    TextureRef picture;
                                    const double start = now();
                                    foliage->branch.makeCards(card, &picture, param, leafyTree.barkTexture());
                                    return now() - start;
                                }),
                                1e3, "ms");
        }
        BenchFigures::print("Tree::generate of the leafy sample, picture rendered (load time)",
                            BenchFigures::repeat(9, [&leafy] {
                                FileArray stream(4096);
                                stream.write(leafy.data(), uint32_t(leafy.size()));
                                stream.seek(0, 0);
                                const double start = now();
                                Tree tree;
                                tree.generate(stream);
                                return now() - start;
                            }),
                            1e3, "ms");
    }
    gDirectGraphics.release();
    DestroyWindow(window);
    return 0;
}
