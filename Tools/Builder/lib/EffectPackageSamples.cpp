#include "EffectPackageSamples.h"

#include "BuiltinTextures.h"
#include "ImageFileWriter.h"
#include "ObjectPackageSamples.h"
#include "SoundSamples.h"

#include <cmath>
#include <string>

namespace EffectPackageSamples {

namespace {

// A mono noise burst of seconds, fading out: the crackle and the bang.
SoundSamples::Pcm noise(double seconds, double fade, uint32_t seed)
{
    SoundSamples::Pcm pcm;
    pcm.samplesPerSecond = 22050;
    const uint32_t frames = uint32_t(seconds * pcm.samplesPerSecond);
    uint32_t state = seed;
    for (uint32_t i = 0; i < frames; ++i) {
        state = state * 1664525u + 1013904223u;
        const double white = double(int32_t(state >> 16) - 32768) / 32768.0;
        const double envelope = std::exp(-fade * double(i) / pcm.samplesPerSecond);
        pcm.samples.push_back(int16_t(white * envelope * 12000.0));
    }
    return pcm;
}

}

ObjectPackageWriter::Package oilPuddle()
{
    ObjectPackageWriter::Package p;
    FunctionsRecordWriter::Record functions;
    functions.oilPuddle = FunctionsRecordWriter::OilPuddle{};
    p.functions = functions;
    return p;
}

FunctionsRecordWriter::Fire bonfireFlames()
{
    FunctionsRecordWriter::Fire fire;
    fire.flames.assign(3, FunctionsRecordWriter::Fire::Flame{});
    const float offsets[3][3] = {{0.0f, 0.0f, 0.0f}, {1.2f, 0.0f, 0.4f}, {-0.8f, 0.0f, -0.9f}};
    for (size_t i = 0; i < 3; ++i) {
        FunctionsRecordWriter::Fire::Flame& f = fire.flames[i];
        f.position = {offsets[i][0], offsets[i][1], offsets[i][2]};
        f.angles = {0.0f, float(i) * 40.0f, 0.0f};
        f.scale = i == 0 ? 12.0f : 8.0f;
        f.look = {0.15f, 0.2f, 0.05f, 0.6f, 0.1f, 0.5f};
    }
    // One crackle for the whole fire, looped.
    fire.flames[0].soundType = 1;
    fire.flames[0].sound = SoundSamples::wav(noise(1.0, 0.0, 4501));
    return fire;
}

ObjectPackageWriter::Package bonfire()
{
    ObjectPackageWriter::Package p;
    // A low pile of logs under the flames, without collision geometry.
    PackagePartWriter::Mesh logs = ObjectPackageSamples::unitBox("BonfireLogs", {}, 0.6f);
    ObjectPackageSamples::paint(p, logs, "BonfireLogs.tga",
                                ObjectPackageSamples::paintedFace(0xFF6A4A2Cu, 0xFF3A2816u, ObjectPackageSamples::Emblem::bands));
    p.meshes.push_back(logs);
    FunctionsRecordWriter::Record functions;
    functions.fire = bonfireFlames();
    p.functions = functions;
    return p;
}

FunctionsRecordWriter::Rocket rocketEffects()
{
    FunctionsRecordWriter::Rocket rocket;
    rocket.imageNames = {"RocketFireA.dds", "RocketFireB.dds", "RocketSmoke.dds"};
    // The rocket takes each image's alpha from its red channel: the smoke's
    // grey is weighed by its alpha, so that its puff fades to the rim.
    ImageFileWriter::Image smoke = BuiltinTextures::smoke();
    for (uint32_t& texel : smoke.argb) {
        const uint32_t a = texel >> 24;
        uint32_t weighed = texel & 0xFF000000u;
        for (int shift = 0; shift < 24; shift += 8)
            weighed |= ((texel >> shift & 0xFFu) * a / 255u) << shift;
        texel = weighed;
    }
    rocket.images = {ImageFileWriter::dds(BuiltinTextures::fire()), ImageFileWriter::dds(BuiltinTextures::lensflare()),
                     ImageFileWriter::dds(smoke)};
    rocket.sounds = {SoundSamples::wav(noise(0.6, 4.0, 4601)), SoundSamples::wav(SoundSamples::tone(1.5, 1, 22050)),
                     SoundSamples::wav(noise(2.0, 0.5, 4602)), SoundSamples::wav(noise(1.2, 3.0, 4603))};
    return rocket;
}

ObjectPackageWriter::Package rocket()
{
    ObjectPackageWriter::Package p;
    PackagePartWriter::Mesh body = ObjectPackageSamples::unitBox("RocketBody", {}, 0.3f);
    ObjectPackageSamples::paint(p, body, "RocketBody.tga",
                                ObjectPackageSamples::paintedFace(0xFFB8BCC0u, 0xFFC02020u, ObjectPackageSamples::Emblem::stripes));
    p.meshes.push_back(body);
    FunctionsRecordWriter::Record functions;
    functions.rocket = rocketEffects();
    FunctionsRecordWriter::Fire tail;
    tail.flames[0].position = {0.0f, 0.0f, -0.3f};
    tail.flames[0].angles = {-90.0f, 0.0f, 0.0f};
    tail.flames[0].scale = 3.0f;
    tail.flames[0].burningAtStart = 0;
    functions.fire = tail;
    p.functions = functions;
    return p;
}

FunctionsRecordWriter::Bush bushLeaves()
{
    FunctionsRecordWriter::Bush bush;
    bush.sound = SoundSamples::wav(noise(0.8, 2.5, 4701));
    bush.leafPath = "Leaf.dds";
    // A green leaf: an ellipse in alpha, darker along its middle vein.
    ImageFileWriter::Image leaf;
    leaf.width = leaf.height = 32;
    for (uint32_t y = 0; y < leaf.height; ++y)
        for (uint32_t x = 0; x < leaf.width; ++x) {
            const double u = (double(x) + 0.5) / 16.0 - 1.0, v = (double(y) + 0.5) / 16.0 - 1.0;
            const bool inside = u * u / 0.3 + v * v < 1.0;
            const uint32_t green = std::abs(u) < 0.06 ? 0x60u : 0xA0u;
            leaf.argb.push_back(inside ? 0xFF000000u | 0x30u << 16 | green << 8 | 0x20u : 0x00000000u);
        }
    bush.leafImage = ImageFileWriter::dds(leaf);
    bush.position = {0.0f, 1.2f, 0.0f};
    bush.scale = {1.6f, 1.2f, 1.6f};
    return bush;
}

ObjectPackageWriter::Package bush()
{
    ObjectPackageWriter::Package p;
    PackagePartWriter::Mesh leaves = ObjectPackageSamples::unitBox("BushLeaves", {0.0f, 1.2f, 0.0f}, 2.4f);
    ObjectPackageSamples::paint(p, leaves, "BushLeaves.tga",
                                ObjectPackageSamples::paintedFace(0xFF3A6A28u, 0xFF2A4E1Cu, ObjectPackageSamples::Emblem::stripes));
    p.meshes.push_back(leaves);
    FunctionsRecordWriter::Record functions;
    functions.bush = bushLeaves();
    p.functions = functions;
    return p;
}

ImageFileWriter::Image flagImage()
{
    ImageFileWriter::Image image;
    image.width = image.height = 32;
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const bool band = x < 16 && y >= 12 && y < 20;
            image.argb.push_back(band ? 0xFFFFFFFFu : 0xFFC01818u);
        }
    return image;
}

FunctionsRecordWriter::Cloths flagCloth()
{
    FunctionsRecordWriter::Cloths cloth;
    cloth.textureName = "CaptureFlag.tga";
    cloth.image = ImageFileWriter::tga(flagImage());
    // The flag flies from the top of the pick-up's box.
    cloth.position = {0.0f, 1.4f, 0.0f};
    return cloth;
}

FunctionsRecordWriter::Cloths bannerCloth()
{
    FunctionsRecordWriter::Cloths cloth;
    cloth.columns = 24;
    cloth.rows = 10;
    cloth.plane = 7;
    cloth.pinA = {0, 0};
    cloth.pinB = {0, 9};
    cloth.pinC = {23, 0};
    cloth.pinD = {23, 9};
    cloth.windStrength = 0.3f;
    cloth.textureName = "Banner.tga";
    cloth.image = ImageFileWriter::tga(flagImage());
    // 2.3 by 0.9 grid units a tenth each, doubled: between posts 4.6 apart.
    cloth.scale = 2.0f;
    cloth.position = {-2.3f, 3.0f, -0.9f};
    return cloth;
}

ObjectPackageWriter::Package banner()
{
    ObjectPackageWriter::Package p;
    // Each post a stack of four blocks up to the banner's height.
    for (int side = 0; side < 2; ++side)
        for (int block = 0; block < 4; ++block) {
            const std::string name = std::string(side ? "BannerPostRight" : "BannerPostLeft") + char('0' + block);
            PackagePartWriter::Mesh post = ObjectPackageSamples::unitBox(
                name.c_str(), {side ? 2.3f : -2.3f, 0.375f + 0.75f * float(block), 0.0f}, 0.75f);
            ObjectPackageSamples::paint(
                p, post, "BannerPost.tga",
                ObjectPackageSamples::paintedFace(0xFF8C6A44u, 0xFF6E5234u, ObjectPackageSamples::Emblem::none));
            p.meshes.push_back(post);
        }
    FunctionsRecordWriter::Record functions;
    functions.cloths = bannerCloth();
    p.functions = functions;
    return p;
}

}
