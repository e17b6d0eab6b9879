#include "SoundTestSupport.h"

using namespace SoundTest;
using Audio::AudioFile;

namespace {

struct WavCase
{
    const char* what;
    WavLayout layout;
    uint32_t dataBytes;
    uint32_t type, dataSize;
    bool inMemory, streamed;
    uint32_t duration;
};

Bytes chunk(const char* id, const Bytes& body)
{
    Bytes b;
    putId(b, id);
    put(b, uint32_t(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

WavLayout with(void (*change)(WavLayout&))
{
    WavLayout l;
    change(l);
    return l;
}

const WavCase wavCases[] = {
    {"16-bit mono, a tenth of a second", {}, 8820, 1, 8820, true, false, 100},
    {"8-bit stereo", with([](WavLayout& l) { l.bits = 8, l.channels = 2, l.rate = 22050; }), 44100, 1, 44100, true,
     false, 1000},
    {"fact chunk before data", with([](WavLayout& l) { l.before = chunk("fact", {1, 2, 3, 4}); }), 4000, 1, 4000,
     true, false, 45},
    {"LIST chunk before data", with([](WavLayout& l) { l.before = chunk("LIST", Bytes(10, 'x')); }), 4000, 1, 0,
     false, false, 0},
    {"another f-chunk before data", with([](WavLayout& l) { l.before = chunk("fLLR", {0, 0}); }), 4000, 1, 0, false,
     false, 0},
    {"18-byte fmt chunk", with([](WavLayout& l) { l.fmtSize = 18; }), 4000, 0, 0, false, false, 0},
    {"not PCM", with([](WavLayout& l) { l.tag = 3; }), 4000, 0, 0, false, false, 0},
    {"no channels", with([](WavLayout& l) { l.channels = 0; }), 4000, 0, 0, false, false, 0},
    {"no sample rate", with([](WavLayout& l) { l.rate = 0; }), 4000, 0, 0, false, false, 0},
    {"no bytes per second", with([](WavLayout& l) { l.bytesPerSecond = 0; }), 4000, 0, 0, false, false,
     0},
    {"data size beyond the file", with([](WavLayout& l) { l.declaredData = 100000; }), 5000, 1, 5000, true, false,
     56},
    {"odd data size cut to whole frames", with([](WavLayout& l) { l.declaredData = 4001; }), 4001, 1, 4000, true,
     false, 45},
    {"just under the memory limit", with([](WavLayout& l) { l.bits = 8; }), 0x32000 - 1, 1, 0x32000 - 1, true,
     false, 4643},
    {"at the memory limit", with([](WavLayout& l) { l.bits = 8; }), 0x32000, 1, 0x32000, false, false, 4643},
    {"a stream buffer's worth", with([](WavLayout& l) { l.bits = 8; }), 0x80004, 1, 0x80004, false, false, 11888},
    {"one byte more streams", with([](WavLayout& l) { l.bits = 8; }), 0x80005, 1, 0x80005, false, true, 11888},
    {"stereo 16-bit, 2.97 s", with([](WavLayout& l) { l.channels = 2; }), 0x80004, 1, 0x80004, false, false, 2972},
};

}

TEST(WavReader, LayoutsGiveTypeSizeHoldingAndDuration)
{
    for (const WavCase& c : wavCases) {
        SCOPED_TRACE(c.what);
        const Bytes data = pattern(c.dataBytes);
        MemorySound sound(wavBytes(c.layout, data), AudioFile::typeWav);
        ASSERT_NE(sound.file, nullptr);
        EXPECT_EQ(sound.file->type, c.type);
        EXPECT_EQ(sound.file->dataSize, c.dataSize);
        EXPECT_EQ(sound.file->duration, c.duration);
        if (c.type == 0)
            continue;
        EXPECT_EQ(sound.file->memory != nullptr, c.inMemory);
        sound.file->setupBuffers(true, false, false, false);
        EXPECT_EQ(sound.file->streamed, c.streamed ? 1u : 0u);
        const Bytes read = sound.readAll();
        EXPECT_TRUE(std::equal(read.begin(), read.end(), data.begin())) << "the data reads back";
    }
}

TEST(WavReader, DamagedHeadersGiveUnusableFiles)
{
    const Bytes good = wavBytes({}, pattern(400));
    const struct
    {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"no WAVE tag", [&] { Bytes b = good; b[8] = 'X'; return b; }()},
        {"cut inside the fmt chunk", Bytes(good.begin(), good.begin() + 30)},
        {"fmt size lies", [&] { Bytes b = good; b[16] = 0xFF; return b; }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySound sound(c.bytes, AudioFile::typeWav);
        ASSERT_NE(sound.file, nullptr);
        EXPECT_EQ(sound.file->type, 0u);
        uint8_t out[64];
        memset(out, 0xAA, sizeof(out));
        EXPECT_EQ(sound.file->read(out, sizeof(out), true), sizeof(out));
        EXPECT_EQ(out[0], 0) << "an unusable file reads as silence";
    }
    // Cut right after the format: a usable sound without data.
    MemorySound cut(Bytes(good.begin(), good.begin() + 36), AudioFile::typeWav);
    EXPECT_EQ(cut.file->type, 1u);
    EXPECT_EQ(cut.file->dataSize, 0u);
    // It reads as silence, looped or not, and a looped read that finds no
    // data after its rewind stops.
    for (bool loop : {false, true}) {
        uint8_t out[64];
        memset(out, 0xAA, sizeof(out));
        EXPECT_EQ(cut.file->read(out, sizeof(out), loop), 0u);
        EXPECT_EQ(std::count(out, out + sizeof(out), 0), long(sizeof(out)));
    }
}

TEST(WavReader, FileTypeComesFromTheExtensionAsWritten)
{
    const struct
    {
        const wchar_t* name;
        uint32_t type;
    } cases[] = {{L"gate.wav", 1},   {L"music.ogg", 2}, {L"GATE.WAV", 0}, {L"a.Ogg", 0},
                 {L"wav", 0},        {L"", 0},          {L"a.b.ogg", 2},  {L"a.wav.txt", 0},
                 {L"Data\\x.wav", 1}};
    for (const auto& c : cases)
        EXPECT_EQ(AudioFile::getFileType(String(c.name)), c.type) << String(c.name).toNarrow().buffer;
}

TEST(WavReader, SecondRequestForANameSharesTheFile)
{
    MemorySound first(wavBytes({}, pattern(400)), AudioFile::typeWav, L"shared.wav", 3, 3, 3);
    FileArray other(4096);
    Audio::FileRef sameName(&other, AudioFile::typeWav, String(L"shared.wav"), 0);
    EXPECT_EQ(AudioFile::get(&sameName, 7, 7, 7), first.file);
    EXPECT_EQ(first.file->capacity, 3) << "the first request's counts stay";
    Audio::FileRef otherName(&other, AudioFile::typeWav, String(L"Shared.wav"), 0);
    Audio::AudioFile* second = AudioFile::get(&otherName, 1, 1, 1);
    EXPECT_NE(second, first.file) << "names compare exactly";
    AudioFile::unloadByRef(otherName);
    EXPECT_EQ(AudioFile::get(nullptr, 1, 1, 1), nullptr);
}
