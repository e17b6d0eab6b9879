#pragma once
// Blocks, embedded files and comparisons for the package part tests.
#include "Objects/ObjPkgManager.h"
#include "Objects/ShaderSettings.h"

#include "PackagePartSamples.h"
#include "PackagePartWriter.h"

#include "Core/FileArray.h"
#include "Core/Matrix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ObjectsTests {

using Bytes = std::vector<uint8_t>;

// A package's embedded files as a table.
class FileTable final : public ObjPkgManager::FileFinder
{
public:
    FileTable() = default;
    explicit FileTable(const std::vector<PackagePartSamples::File>& files)
    {
        for (const auto& file : files)
            add(file.name, file.bytes);
    }
    void add(const std::string& name, const Bytes& bytes)
    {
        auto& stream = files_[std::wstring(name.begin(), name.end())];
        stream = std::make_unique<FileArray>(4096);
        stream->write(bytes.data(), uint32_t(bytes.size()));
        stream->seek(0, 0);
    }
    FileArray* findFile(const String& name) override
    {
        ++lookups;
        const auto found = files_.find(name.text());
        return found == files_.end() ? nullptr : found->second.get();
    }
    int lookups = 0;

private:
    std::map<std::wstring, std::unique_ptr<FileArray>> files_;
};

template <class Write, class Description>
Bytes bytesOf(Write write, const Description& description)
{
    FileArray stream(4096);
    EXPECT_TRUE(write(stream, description));
    return Bytes(stream.memory(), stream.memory() + stream.size());
}

// A rewound memory stream over bytes.
inline std::unique_ptr<FileArray> streamOf(const Bytes& bytes)
{
    auto stream = std::make_unique<FileArray>(4096);
    stream->write(bytes.data(), uint32_t(bytes.size()));
    stream->seek(0, 0);
    return stream;
}

// Little-endian words and floats of a hand-made block.
struct BlockBytes
{
    Bytes bytes;
    template <class T>
    BlockBytes& operator<<(const T& value)
    {
        const auto* p = reinterpret_cast<const uint8_t*>(&value);
        bytes.insert(bytes.end(), p, p + sizeof(T));
        return *this;
    }
    BlockBytes& append(const Bytes& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
};

inline void expectNear(const vec3d& got, const vec3d& want, float tolerance, const char* what)
{
    EXPECT_NEAR(got.x, want.x, tolerance) << what;
    EXPECT_NEAR(got.y, want.y, tolerance) << what;
    EXPECT_NEAR(got.z, want.z, tolerance) << what;
}

inline void expectSettings(const ObjPkgManager::ShaderSettings& got, const PackagePartWriter::ShaderSettings& want)
{
    EXPECT_EQ(got.addressMode, want.addressMode);
    EXPECT_EQ(std::memcmp(&got.material, &want.material, sizeof(want.material)), 0);
    EXPECT_EQ(got.alphaRef, want.alphaRef);
    EXPECT_EQ(got.reflectionMode, want.reflectionMode);
    EXPECT_EQ(got.reflectionAmount, want.reflectionAmount);
    EXPECT_EQ(got.value6, want.value6);
    EXPECT_EQ(got.cullBackFaces, want.cullBackFaces);
    EXPECT_EQ(got.textureScale, want.textureScale);
    EXPECT_EQ(got.castShadow, want.castShadow);
    EXPECT_EQ(got.value10, want.value10);
}

inline std::string narrow(const String& text)
{
    std::string out;
    for (const wchar_t* c = text.text(); *c; ++c)
        out.push_back(char(*c));
    return out;
}

}
