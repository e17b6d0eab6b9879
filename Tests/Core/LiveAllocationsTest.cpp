// The core tests count what operator new hands out and operator delete takes
// back, so that a reader can be held to giving back everything it took, also
// on its ways out of a missing or damaged file.
#include "StreamTestSupport.h"

#include "Core/ImageData.h"
#include "Core/Pack.h"
#include "Core/ResourceManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

namespace
{
std::atomic<long long> live{0};
}

// The other forms (arrays, nothrow, sized) forward to these two.
void* operator new(std::size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    ++live;
    return block;
}

void operator delete(void* block) noexcept
{
    if (!block)
        return;
    --live;
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    operator delete(block);
}

namespace
{
// Allocations that `work` leaves behind.
long long leftBehind(const std::function<void()>& work)
{
    work(); // once first: what is made once per process is not a leak
    const long long before = live.load();
    for (int i = 0; i < 3; ++i)
        work();
    return live.load() - before;
}
}

TEST(LiveAllocations, MissingAndDamagedFilesGiveBackEverythingTheirReadersTook)
{
    TempFolder folder;
    std::vector<uint8_t> archive;
    for (uint32_t value : {0u, 1u, 3u, 2u, 1u}) // header, entry count 3, entries: a path tag
        appendU32(archive, value);
    appendString(archive, "Sounds\\Cut"); // then the archive ends
    ASSERT_TRUE(writeBytes(folder.file(L"cut.res"), archive));
    const std::vector<uint8_t> package = {'_', 'P', 'A', 'C', 'K', '_', 0, 1, 0}; // cut in the entry count
    ASSERT_TRUE(writeBytes(folder.file(L"cut.pack"), package));
    const std::wstring missing = folder.file(L"missing.res");

    const struct {
        const char* what;
        std::function<void()> work;
    } cases[] = {
        {"archive that is missing",
         [&] {
             ResourceManager manager;
             manager.load(String(missing.c_str()));
         }},
        {"archive cut inside an entry",
         [&] {
             ResourceManager manager;
             manager.load(String(folder.file(L"cut.res").c_str()));
         }},
        {"stream of a missing file", [&] { openFile(String(missing.c_str()), 0, 1, 1)->close(); }},
        {"entry of a damaged package",
         [&] { openFile(String(folder.file(L"cut.pack:a").c_str()), 0, 1, 1)->close(); }},
        {"damaged package", [&] { Pack pack(String(folder.file(L"cut.pack").c_str())); }},
        {"image cut in its header",
         [] {
             const uint8_t tga[10] = {0, 0, 2};
             ImageData image;
             image.decode(std::span<const uint8_t>(tga), ImageData::TypeTga);
         }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(leftBehind(c.work), 0) << c.what;
}
