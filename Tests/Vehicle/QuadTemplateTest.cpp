// The quad template: its parameter block written by the builder and read back
// through the package, the block's own rules, and damaged blocks.
#include "Vehicle/QuadPhysics.h"

#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"

#include "Audio/Audio.h"
#include "Audio/AudioFile.h"

#include "FunctionsRecordWriter.h"
#include "MeshSamples.h"
#include "ObjectPackageWriter.h"
#include "SoundSamples.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;
using Package = ObjPkgManager::Package;

std::string narrow(const String& text)
{
    std::string s;
    for (int32_t i = 0; i < text.length(); ++i)
        s += char(text.text()[i]);
    return s;
}

template <class Write, class Description>
Bytes bytesOf(Write write, const Description& description)
{
    FileArray stream(4096);
    EXPECT_TRUE(write(stream, description));
    return Bytes(stream.memory(), stream.memory() + stream.size());
}

std::unique_ptr<FileArray> streamOf(const Bytes& bytes)
{
    auto stream = std::make_unique<FileArray>(4096);
    stream->write(bytes.data(), uint32_t(bytes.size()));
    stream->seek(0, 0);
    return stream;
}

PackagePartWriter::Mesh part(const std::string& name)
{
    PackagePartWriter::Mesh m;
    m.body = MeshSamples::record();
    m.name = name;
    return m;
}

// A package of no file, built from the writer's bytes.
struct Built
{
    explicit Built(const ObjectPackageWriter::Package& description) : package(nullptr, String(L"Quad.teo"))
    {
        auto stream = streamOf(
            bytesOf([](FileInterface& t, const auto& p) { return ObjectPackageWriter::write(t, p); }, description));
        built = package.buildFrom(*stream, nullptr);
    }
    QuadPhysics* quad() const { return package.functions.quadPhysics; }
    Package package;
    bool built = false;
};

// A block of tags and values as the stream holds them.
struct Block
{
    Block& operator<<(uint32_t word)
    {
        const auto* p = reinterpret_cast<const uint8_t*>(&word);
        bytes.insert(bytes.end(), p, p + 4);
        return *this;
    }
    Block& operator<<(float value)
    {
        uint32_t word;
        std::memcpy(&word, &value, 4);
        return *this << word;
    }
    Block& text(const std::string& s)
    {
        *this << uint32_t(s.size());
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    Block& sized(const Bytes& b)
    {
        *this << uint32_t(b.size());
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    Bytes bytes;
};

// A template of no package read from block.
struct Loaded
{
    explicit Loaded(const Bytes& bytes) : quad(&record)
    {
        auto stream = streamOf(bytes);
        read = quad.load(*stream);
    }
    ObjPkgManager::Functions::Record record{nullptr};
    QuadPhysics quad;
    bool read = false;
};

const SoundSamples::Pcm& shortTone()
{
    static const SoundSamples::Pcm pcm = SoundSamples::tone(0.05, 1);
    return pcm;
}

TEST(QuadTemplate, TheBuildersBlockReadBackThroughThePackage)
{
    ObjectPackageWriter::Package description;
    FunctionsRecordWriter::QuadPhysics quad;
    // Roles 1 to 17 find meshes of their own name, but for the ones below.
    for (int role = 1; role <= QuadPhysics::roleCount; ++role) {
        const std::string name = "Part" + std::to_string(role);
        description.meshes.push_back(part(name));
        quad.roles[size_t(role - 1)] = name;
    }
    description.meshes.push_back(part("Unassigned"));
    quad.roles[QuadPhysics::body - 1] = "Unassigned";         // a mesh of that name is not looked for
    quad.roles[QuadPhysics::helmet - 1] = "part16";           // names differ in case
    quad.roles[QuadPhysics::frontRightWheel - 1] = "Nothing"; // no mesh has it
    quad.rearSpring = 80.0f;
    quad.rearDamper = 2.5f;
    quad.parameter3 = 0.25f;
    quad.frontSpring = 40.0f;
    quad.frontDamper = 1.25f;
    quad.parameter6 = 0.75f;
    for (size_t slot = 0; slot < quad.sounds.size(); ++slot)
        if (slot != QuadPhysics::wheelRoll)
            quad.sounds[slot] = SoundSamples::wav(SoundSamples::tone(0.01 * double(slot + 1), 1));
    quad.sounds[QuadPhysics::waterSpray] = SoundSamples::ogg(shortTone());
    quad.dustPath = "C:\\art\\dust.bmp";
    quad.dust = {1, 2, 3, 4, 5};
    quad.dirtPath = "C:\\art\\dirt.bmp";
    quad.dirt = {6, 7};
    description.functions.emplace();
    description.functions->quadPhysics = quad;

    Built built(description);
    ASSERT_TRUE(built.built);
    QuadPhysics* q = built.quad();
    ASSERT_NE(q, nullptr);
    for (int role = 1; role <= QuadPhysics::roleCount; ++role) {
        const bool empty =
            role == QuadPhysics::body || role == QuadPhysics::helmet || role == QuadPhysics::frontRightWheel;
        ObjPkgManager::Mesh* mesh = q->mesh(role);
        if (empty) {
            EXPECT_EQ(mesh, nullptr) << role;
            continue;
        }
        ASSERT_NE(mesh, nullptr) << role;
        EXPECT_EQ(narrow(*mesh->getName()), "Part" + std::to_string(role));
    }
    // The parts the quad moves against their mesh are marked for the
    // texture transform with a wrapping texture; the others keep theirs.
    for (auto* node = built.package.meshes.head(); node; node = node->next) {
        ObjPkgManager::Mesh& mesh = *node->item;
        const bool marked = &mesh == q->mesh(QuadPhysics::rearFollower) || &mesh == q->mesh(QuadPhysics::driver) ||
                            &mesh == q->mesh(QuadPhysics::helmetCarried);
        EXPECT_EQ(mesh.shader.addressMode, marked ? uint32_t(D3DTADDRESS_WRAP) : uint32_t(D3DTADDRESS_CLAMP))
            << narrow(*mesh.getName());
        EXPECT_EQ(mesh.shader.textureScale, marked ? 1.0f + std::ldexp(1.0f, -20) : 1.0f) << narrow(*mesh.getName());
    }
    EXPECT_GT(QuadPhysics::transformedTextureScale, 1.0f);

    EXPECT_EQ(q->rearSpring, 80.0f);
    EXPECT_EQ(q->rearDamper, 2.5f);
    EXPECT_EQ(q->parameter3, 0.25f);
    EXPECT_EQ(q->frontSpring, 40.0f);
    EXPECT_EQ(q->frontDamper, 1.25f);
    EXPECT_EQ(q->parameter6, 0.75f);
    const char* names[] = {"1000RPM", "1000RPMGas", "3000RPM",    "3000RPMGas", "WeelSlide",
                           "WeelRoll", "SndColl",   "WaterSpray", "WheelColl"};
    for (int32_t slot = 0; slot < QuadPhysics::soundCount; ++slot) {
        const Audio::FileRef* sound = q->sound(slot);
        if (slot == QuadPhysics::wheelRoll) {
            EXPECT_EQ(sound, nullptr);
            continue;
        }
        ASSERT_NE(sound, nullptr) << slot;
        EXPECT_EQ(narrow(sound->name), names[slot]);
        EXPECT_EQ(sound->type, slot == QuadPhysics::waterSpray ? Audio::FileRef::typeOgg : Audio::FileRef::typeWav)
            << names[slot];
        EXPECT_EQ(sound->closeSource, 0u);
        ASSERT_EQ(sound->source, &q->soundStreams[slot]);
        const Bytes& want = quad.sounds[size_t(slot)];
        ASSERT_EQ(q->soundStreams[slot].size(), want.size()) << names[slot];
        EXPECT_EQ(std::memcmp(q->soundStreams[slot].memory(), want.data(), want.size()), 0) << names[slot];
    }
    EXPECT_EQ(narrow(q->dustTexturePath), quad.dustPath);
    EXPECT_EQ(narrow(q->dirtTexturePath), quad.dirtPath);
    EXPECT_EQ(Bytes(q->dustStream.memory(), q->dustStream.memory() + q->dustStream.size()), quad.dust);
    EXPECT_EQ(Bytes(q->dirtStream.memory(), q->dirtStream.memory() + q->dirtStream.size()), quad.dirt);
    EXPECT_FALSE(q->dustTexture.isBound()) << "no device here: no texture";
}

TEST(QuadTemplate, TheBlocksOwnRules)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case
    {
        const char* what;
        Block block;
        bool read;
        float rearSpring, frontSpring, rearDamper, frontDamper;
    };
    const Case cases[] = {
        {"a lone tag 0", Block() << 0u, true, 60.0f, 60.0f, 1.8f, 1.8f},
        {"no data at all", Block(), true, 60.0f, 60.0f, 1.8f, 1.8f},
        {"tags 13 and 15 apart", Block() << 13u << 70.0f << 15u << 50.0f << 0u, true, 70.0f, 50.0f, 1.8f, 1.8f},
        {"a later tag overwrites", Block() << 14u << 3.0f << 16u << 4.0f << 14u << 5.0f, true, 60.0f, 60.0f, 5.0f,
         4.0f},
        {"tag 40 carries nothing", Block() << 40u << 13u << 90.0f << 0u, true, 90.0f, 60.0f, 1.8f, 1.8f},
        {"non-finite values keep theirs",
         Block() << 13u << nan << 15u << inf << 14u << -inf << 16u << 1.0e30f << 0u, true, 60.0f, 60.0f, 1.8f, 1.8f},
        {"cut inside a value", Block() << 13u << 70.0f << 15u, false, 70.0f, 60.0f, 1.8f, 1.8f},
        {"a sound larger than the data", Block() << 13u << 65.0f << 20u << 1000u << 1u << 2u, false, 65.0f, 60.0f,
         1.8f, 1.8f},
    };
    for (const Case& c : cases) {
        Loaded loaded(c.block.bytes);
        EXPECT_EQ(loaded.read, c.read) << c.what;
        EXPECT_EQ(loaded.quad.rearSpring, c.rearSpring) << c.what;
        EXPECT_EQ(loaded.quad.frontSpring, c.frontSpring) << c.what;
        EXPECT_EQ(loaded.quad.rearDamper, c.rearDamper) << c.what;
        EXPECT_EQ(loaded.quad.frontDamper, c.frontDamper) << c.what;
        for (int32_t role = 1; role <= QuadPhysics::roleCount; ++role)
            EXPECT_EQ(loaded.quad.mesh(role), nullptr) << c.what;
        for (int32_t slot = 0; slot < QuadPhysics::soundCount; ++slot)
            EXPECT_EQ(loaded.quad.sound(slot), nullptr) << c.what;
    }

    // A sound given twice keeps the later; an empty block leaves none.
    const Bytes first = SoundSamples::wav(shortTone()), second = SoundSamples::ogg(shortTone());
    Loaded twice(((Block() << 26u).sized(first) << 26u).sized(second).bytes);
    ASSERT_NE(twice.quad.sound(QuadPhysics::bodyCollision), nullptr);
    EXPECT_EQ(twice.quad.sound(QuadPhysics::bodyCollision)->type, Audio::FileRef::typeOgg);
    EXPECT_EQ(twice.quad.soundStreams[QuadPhysics::bodyCollision].size(), second.size());
    Loaded emptied(((Block() << 26u).sized(first) << 26u).sized({}).bytes);
    EXPECT_EQ(emptied.quad.sound(QuadPhysics::bodyCollision), nullptr);
    // Without a package no role finds a mesh.
    Loaded named((Block() << 27u).text("Body").bytes);
    EXPECT_TRUE(named.read);
    EXPECT_EQ(named.quad.mesh(QuadPhysics::body), nullptr);
    EXPECT_EQ(QuadPhysics::tagOfRole(13), 19u);
    EXPECT_EQ(QuadPhysics::tagOfRole(18), 0u);
}

// A block cut at every byte, and copies with bytes changed (fixed seed):
// every read ends cleanly and keeps what it read before the damage.
TEST(QuadTemplate, DamagedBlocksEndCleanly)
{
    FunctionsRecordWriter::QuadPhysics quad;
    quad.roles[0] = "Swing";
    quad.rearSpring = 75.0f;
    quad.sounds[0] = SoundSamples::wav(shortTone());
    quad.sounds[8] = SoundSamples::ogg(shortTone());
    quad.dustPath = "dust.bmp";
    quad.dust = {1, 2, 3};
    const Bytes whole = bytesOf(FunctionsRecordWriter::writeQuadPhysics, quad);
    {
        Loaded all(whole);
        ASSERT_TRUE(all.read);
        ASSERT_NE(all.quad.sound(8), nullptr);
    }
    // The rear spring's value ends at byte 4 x (1 + 17) + the role texts + 8.
    size_t springEnd = 0;
    for (size_t i = 0; i + 8 <= whole.size(); ++i)
        if (std::memcmp(&whole[i], "\x0d\0\0\0", 4) == 0) {
            springEnd = i + 8;
            break;
        }
    ASSERT_GT(springEnd, 0u);
    // The first sound's bytes (a wav file) and its size word before them.
    size_t soundStart = 0;
    for (size_t i = 4; i + 4 <= whole.size() && !soundStart; ++i)
        if (std::memcmp(&whole[i], "RIFF", 4) == 0)
            soundStart = i;
    ASSERT_GT(soundStart, 0u);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        Loaded part(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(cut)));
        EXPECT_EQ(part.quad.rearSpring, cut >= springEnd ? 75.0f : 60.0f) << cut;
        const bool inSound = cut > soundStart - 4 && cut < soundStart + quad.sounds[0].size();
        if (inSound) {
            EXPECT_FALSE(part.read) << cut << ": a size beyond the bytes left";
            EXPECT_EQ(part.quad.sound(0), nullptr) << cut;
        }
        EXPECT_EQ(part.quad.sound(0) != nullptr, cut >= soundStart + quad.sounds[0].size()) << cut;
    }
    std::mt19937 random(40);
    for (int copy = 0; copy < 300; ++copy) {
        Bytes damaged = whole;
        for (int n = 0; n < 4; ++n)
            damaged[random() % damaged.size()] = uint8_t(random());
        Loaded loaded(damaged);
        EXPECT_TRUE(std::isfinite(loaded.quad.rearSpring) && std::isfinite(loaded.quad.frontSpring)) << copy;
        for (int32_t slot = 0; slot < QuadPhysics::soundCount; ++slot)
            if (loaded.quad.sound(slot)) {
                EXPECT_LE(loaded.quad.soundStreams[slot].size(), damaged.size()) << copy;
            }
    }
}

// The Ogg block plays as Ogg on the sound device, and the template's end
// unloads what was loaded from it.
bool loaded(const char* name)
{
    for (auto* node = Audio::AudioFile::list().head(); node; node = node->next)
        if (narrow(node->item->name) == name)
            return true;
    return false;
}

TEST(QuadTemplate, SoundsLoadByTheirKindAndGoWithTheTemplate)
{
    Audio::init(GetDesktopWindow());
    ASSERT_TRUE(Audio::isEnabled());
    {
        FunctionsRecordWriter::QuadPhysics quad;
        quad.sounds[QuadPhysics::bodyCollision] = SoundSamples::ogg(shortTone());
        quad.sounds[QuadPhysics::wheelCollision] = SoundSamples::wav(shortTone());
        Loaded read(bytesOf(FunctionsRecordWriter::writeQuadPhysics, quad));
        for (int32_t slot : {int32_t(QuadPhysics::bodyCollision), int32_t(QuadPhysics::wheelCollision)}) {
            Audio::AudioFile* file = Audio::AudioFile::get(read.quad.sound(slot), 0, 8, 1);
            ASSERT_NE(file, nullptr) << slot;
            file->setupBuffers(true, true, false, false);
            EXPECT_EQ(file->type, slot == QuadPhysics::bodyCollision ? Audio::AudioFile::typeOgg
                                                                     : Audio::AudioFile::typeWav);
            EXPECT_EQ(file->format.nSamplesPerSec, shortTone().samplesPerSecond) << slot;
            EXPECT_TRUE(file->canLendBuffer()) << slot;
        }
        EXPECT_TRUE(loaded("SndColl"));
    }
    EXPECT_FALSE(loaded("SndColl"));
    EXPECT_FALSE(loaded("WheelColl"));
    Audio::release();
}

}
