#include "PackagePartSamples.h"

#include "MeshSamples.h"
#include "SoundSamples.h"

#include <algorithm>
#include <cmath>

namespace PackagePartSamples {

ImageFileWriter::Image boxImage()
{
    ImageFileWriter::Image image{64, 64, {}};
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint32_t rgb = (x / 8 + y / 8) % 2 ? 0xC08040u : 0x6040A0u;
            image.argb.push_back((x < 32 ? 0xFF000000u : 0x40000000u) | rgb);
        }
    return image;
}

ImageFileWriter::Image spotImage()
{
    ImageFileWriter::Image image{32, 32, {}};
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const float dx = (float(x) + 0.5f) / 16.0f - 1.0f, dy = (float(y) + 0.5f) / 16.0f - 1.0f;
            const float fade = std::clamp(1.0f - std::sqrt(dx * dx + dy * dy), 0.0f, 1.0f);
            image.argb.push_back(uint32_t(fade * 255.0f + 0.5f) << 24 | 0xFFFFFFu);
        }
    return image;
}

PackagePartWriter::Mesh box()
{
    PackagePartWriter::Mesh m;
    m.kind = 1;
    m.body = MeshSamples::record();
    m.displayName = "Crate";
    m.textureName = "CrateBox.tga";
    m.textureMipLevels = 1;
    m.position = {0.0f, 0.5f, 0.0f};
    m.rotation = {0.0f, 30.0f, 0.0f};
    m.scale = 2.0f;
    PackagePartWriter::ShaderSettings& s = m.shader;
    s.addressMode = 1;
    s.material.diffuse = {0.9f, 0.8f, 0.7f, 1.0f};
    s.material.ambient = {0.5f, 0.5f, 0.4f, 1.0f};
    s.material.specular = {0.3f, 0.3f, 0.3f, 1.0f};
    s.material.emissive = {0.1f, 0.0f, 0.0f, 0.0f};
    s.material.power = 8.0f;
    s.alphaRef = 0x80;
    s.reflectionMode = 0;
    s.reflectionAmount = 0x40;
    s.value6 = 3;
    s.cullBackFaces = 1;
    s.textureScale = 2.0f;
    s.castShadow = 0;
    s.value10 = 5;
    m.geometries.push_back({{0.0f, 0.1f, 0.0f}, {1.0f, 0.9f, 1.0f}, {0.0f, 0.0f, 0.0f}, 0});
    m.geometries.push_back({{0.0f, 1.0f, 0.0f}, {0.5f, 0.5f, 0.5f}, {0.0f, 15.0f, 0.0f}, 1});
    m.name = "CrateBox";
    return m;
}

PackagePartWriter::Light spotLight()
{
    PackagePartWriter::Light l;
    l.position = {0.0f, 4.0f, -3.0f};
    l.rotation = {45.0f, 0.0f, 0.0f};
    l.range = 12.0f;
    l.colour = Color(0xFF, 0xC8, 0x78, 0xFF);
    l.lightValue = 0.9f;
    l.coneAngle = 50.0f;
    l.value7 = 1;
    l.textureName = "SpotLight.tga";
    l.value9 = 128;
    l.projectionKind = 1;
    l.value11 = 0.25f;
    l.lightFlag = 1;
    l.value13 = 2;
    return l;
}

PackagePartWriter::PhysicsRecord physics()
{
    PackagePartWriter::PhysicsRecord r;
    r.value1 = 2;
    r.value2 = 0.6f;
    r.value3 = 0.02f;
    r.value4 = 0.3f;
    r.value5 = 0.25f;
    r.mass = 2.0f;
    r.noSound1 = 0;
    r.sound1Option = 1;
    r.sound1 = SoundSamples::wav(SoundSamples::click());
    r.noSound2 = 1;
    return r;
}

std::vector<File> files()
{
    return {{"CrateBox.tga", ImageFileWriter::tga(boxImage())}, {"SpotLight.tga", ImageFileWriter::tga(spotImage())}};
}

}
