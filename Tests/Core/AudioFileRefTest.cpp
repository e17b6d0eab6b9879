#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"

#include <gtest/gtest.h>

namespace {

// A memory stream that counts its closes and reports its deletion.
class CountingStream : public FileArray
{
public:
    CountingStream(int& closes, bool& deleted) : closes_(closes), deleted_(deleted) {}
    ~CountingStream() override { deleted_ = true; }
    uint32_t close() override
    {
        ++closes_;
        return FileArray::close();
    }

private:
    int& closes_;
    bool& deleted_;
};

}

TEST(AudioFileRef, AnOwnedStreamIsClosedOnceABorrowedOneNever)
{
    const struct
    {
        uint32_t type, closeSource;
        int closes;
    } cases[] = {{1, 1, 1}, {2, 0, 0}, {0, 1, 1}};
    for (const auto& c : cases) {
        int closes = 0;
        bool deleted = false;
        auto* stream = new CountingStream(closes, deleted);
        stream->deleteOnClose = c.closeSource != 0;
        {
            Audio::FileRef ref(stream, c.type, String(L"gate.wav"), c.closeSource);
            EXPECT_EQ(ref.type, c.type);
            EXPECT_EQ(ref.name.length(), 8);
            ref.release();
            EXPECT_EQ(ref.type, 0u);
            EXPECT_EQ(ref.source, nullptr);
            EXPECT_EQ(ref.name.length(), 0);
            ref.release();
        }
        EXPECT_EQ(closes, c.closes) << "type " << c.type;
        EXPECT_EQ(deleted, c.closeSource != 0);
        if (!deleted)
            delete stream;
    }
}

TEST(AudioFileRef, SettingAgainReleasesWhatItHeld)
{
    int closes = 0;
    bool deleted = false;
    auto* first = new CountingStream(closes, deleted);
    first->deleteOnClose = true;
    FileArray second(16);
    Audio::FileRef ref;
    ref.set(first, 1, String(L"a.wav"), 1);
    ref.set(&second, 2, String(L"b.ogg"), 0);
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(deleted);
    EXPECT_EQ(ref.source, &second);
    EXPECT_EQ(ref.type, 2u);
    EXPECT_TRUE(ref.name.sameText(String(L"b.ogg")));
}
