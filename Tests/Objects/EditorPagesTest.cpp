// The object functions' editing pages, opened as modeless pages from the
// dialog templates the content builder writes, driven with SendMessageW as
// the controls would (BN_CLICKED, EN_CHANGE, trackbar notifications) and read
// back through the controls and the templates. Files and colours are
// answered through DialogTools' seams.
#include "../Application/AppTestFiles.h"
#include "../Render/TestDevice.h"

#include "DialogTemplateWriter.h"
#include "ImageFileWriter.h"
#include "SoundSamples.h"

#include "Objects/Fire.h"
#include "Objects/ObjectFunctions.h"
#include "Objects/OilPuddle.h"
#include "Objects/Rocket.h"

#include "Application/DialogTools.h"
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"

#include "DialogPages.h"

#include <commctrl.h>

#include <string>
#include <thread>

using namespace TestDevice;
using Functions = ObjPkgManager::Functions;

namespace {

std::wstring chosenPath;
bool chooserAnswers = true;

BOOL WINAPI answerOpen(OPENFILENAMEW* open)
{
    if (!chooserAnswers)
        return FALSE;
    wcsncpy(open->lpstrFile, chosenPath.c_str(), open->nMaxFile - 1);
    return TRUE;
}

std::wstring textOf(HWND dialog, int32_t id)
{
    wchar_t text[256] = {};
    GetDlgItemTextW(dialog, id, text, 256);
    return text;
}

void click(HWND dialog, int32_t id)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(dialog, id)));
}

// The thumb of trackbar id at position, then its notification.
void slide(HWND dialog, int32_t id, int32_t position)
{
    HWND trackbar = GetDlgItem(dialog, id);
    SendMessageW(trackbar, TBM_SETPOS, TRUE, position);
    NMHDR notify{trackbar, UINT_PTR(id), UINT(NM_RELEASEDCAPTURE)};
    SendMessageW(dialog, WM_NOTIFY, WPARAM(id), LPARAM(&notify));
}

class EditorPages : public DeviceSuite
{
protected:
    static void SetUpTestSuite()
    {
        DeviceSuite::SetUpTestSuite();
        folder = AppTestFiles::freshFolder(L"pages");
    }
    void TearDown() override
    {
        DialogTools::openFileFunction = GetOpenFileNameW;
        chooserAnswers = true;
    }
    static inline std::wstring folder;
};

} // namespace

// Every page opens from its template and finds every control its code uses;
// asked again, an open page only comes to the front; closing it forgets the
// window.
TEST_F(EditorPages, EveryPageOpensWithItsControls)
{
    Functions::Collect collect(nullptr);
    Functions::Gate gate(nullptr);
    Functions::OilPuddle oil(nullptr);
    Functions::Fire fire(nullptr);
    Functions::Rocket rocket(nullptr);
    struct Case
    {
        const char* name;
        Template* page;
        uint16_t resource;
        std::vector<int32_t> ids;
    };
    const Case cases[] = {
        {"Collect", &collect, DialogPages::collect, {1059, IDOK, IDCANCEL}},
        {"Gate", &gate, DialogPages::gate, {1231, 1232, IDCLOSE}},
        {"OilPuddle", &oil, DialogPages::oilPuddle, {IDOK, IDCANCEL}},
        {"Fire",
         &fire,
         DialogPages::fire,
         {1237, 1238, 1241, 1242, 1244, 1245, 1247, 1248, 1257, 1258, 1260, 1261, 1249, 1250, 1032, 1253, 1254, 1255,
          1256, 1259, 1263, 1264, 1266}},
        {"Rocket",
         &rocket,
         DialogPages::rocket,
         {1236, 1011, 1012, 1239, 1240, 1241, 1233, 1257, 1259, 1261, 1234, 1258, 1260, 1262, IDOK, IDCANCEL}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool listed = false;
        for (const DialogTemplateWriter::Page& page : DialogTemplateWriter::pages())
            if (page.resource == c.resource) {
                listed = true;
                for (int32_t id : c.ids)
                    EXPECT_TRUE(page.has(id)) << id;
            }
        EXPECT_TRUE(listed) << "the builder's table has the page";

        EXPECT_EQ(c.page->create(c.resource, nullptr, true), 0);
        HWND window = c.page->window;
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(IsWindowVisible(window));
        for (int32_t id : c.ids)
            EXPECT_NE(GetDlgItem(window, id), nullptr) << id;
        EXPECT_EQ(c.page->create(c.resource, nullptr, true), 0) << "an open page is raised";
        EXPECT_EQ(c.page->window, window);
        c.page->close(IDOK);
        EXPECT_EQ(c.page->window, nullptr);
        EXPECT_FALSE(IsWindow(window));
    }
    // A page whose template goes while it is open goes with it.
    HWND orphan = nullptr;
    {
        Functions::Collect shortLived(nullptr);
        shortLived.create(DialogPages::collect, nullptr, true);
        orphan = shortLived.window;
        ASSERT_NE(orphan, nullptr);
    }
    EXPECT_FALSE(IsWindow(orphan));
}

TEST_F(EditorPages, CollectGateAndOilPuddleSetTheirFields)
{
    Functions::Collect collect(nullptr);
    collect.value = 3;
    collect.create(DialogPages::collect, nullptr, true);
    HWND page = collect.window;
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(textOf(page, 1059), L"3");
    struct Typed
    {
        const wchar_t* text;
        uint32_t value;
    };
    for (const Typed& t : {Typed{L"7", 7}, Typed{L"abc", 0}, Typed{L"12x", 12}, Typed{L"", 0}}) {
        SetDlgItemTextW(page, 1059, t.text);
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(1059, EN_CHANGE), LPARAM(GetDlgItem(page, 1059)));
        EXPECT_EQ(collect.value, t.value) << t.text;
    }
    click(page, IDCANCEL);
    EXPECT_EQ(collect.window, nullptr);

    Functions::Gate gate(nullptr);
    gate.create(DialogPages::gate, nullptr, true);
    ASSERT_NE(gate.window, nullptr);
    EXPECT_EQ(textOf(gate.window, 1231), L"Keine Auswahl");
    EXPECT_EQ(gate.pickRequest, 0u);
    click(gate.window, 1232);
    EXPECT_EQ(textOf(gate.window, 1231), L"Bitte w\u00e4hlen...");
    EXPECT_EQ(gate.pickRequest, 1u);
    click(gate.window, IDCLOSE);
    EXPECT_EQ(gate.window, nullptr);

    Functions::OilPuddle oil(nullptr);
    oil.create(DialogPages::oilPuddle, nullptr, true);
    ASSERT_NE(oil.window, nullptr);
    click(oil.window, IDOK);
    EXPECT_EQ(oil.window, nullptr);
}

TEST_F(EditorPages, TheFirePageEditsItsFires)
{
    Functions::Fire fire(nullptr);
    ASSERT_EQ(fire.fires.size(), 1u);
    fire.fires[0]->look.spin = 0.25f;
    fire.create(DialogPages::fire, nullptr, true);
    HWND page = fire.window;
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(fire.editFlag, 1u) << "set while the page is open";
    EXPECT_EQ(textOf(page, 1266), L"1");
    EXPECT_EQ(textOf(page, 1242), L"0.25");
    EXPECT_EQ(textOf(page, 1255), L"\u25BA");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1263))) << "one fire cannot be deleted";
    EXPECT_TRUE(DialogTools::isChecked(page, 1253)) << "no sound";

    // Presets, in slider order, onto the selected fire and its sliders.
    struct Preset
    {
        int32_t button;
        float look[6];
    };
    for (const Preset& p : {Preset{1249, {0.15f, 0.2f, 0.05f, 0.6f, 0.1f, 0.5f}},
                            Preset{1250, {0.15f, 0.8f, 0.9f, 0.5f, 0.6f, 0.7f}}}) {
        click(page, p.button);
        const Functions::Fire::Look& look = fire.fires[0]->look;
        const float got[6] = {look.brightnessCurve, look.spin, look.sizeCurve, look.endSize, look.sizeSpread, look.flicker};
        for (int k = 0; k < 6; ++k)
            EXPECT_FLOAT_EQ(got[k], p.look[k]) << p.button << " value " << k;
        EXPECT_EQ(SendDlgItemMessageW(page, 1247, TBM_GETPOS, 0, 0), LRESULT(p.look[3] * 100.0f + 0.5f)) << "end size over 200 steps";
    }

    // A slider writes the selected fire's value.
    slide(page, 1260, 30);
    EXPECT_FLOAT_EQ(fire.fires[0]->look.flicker, 0.3f);
    EXPECT_EQ(textOf(page, 1261), L"0.30");

    // Add, next, delete.
    click(page, 1259);
    ASSERT_EQ(fire.fires.size(), 2u);
    EXPECT_EQ(fire.selected, 1);
    EXPECT_EQ(textOf(page, 1266), L"2");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, 1263)));
    EXPECT_EQ(textOf(page, 1261), L"0.30") << "a new fire's default flicker";
    slide(page, 1241, 90);
    EXPECT_FLOAT_EQ(fire.fires[1]->look.spin, 0.9f);
    EXPECT_FLOAT_EQ(fire.fires[0]->look.spin, 0.8f) << "the first fire keeps its own";
    click(page, 1264);
    EXPECT_EQ(fire.selected, 0) << "after the last, the first";
    EXPECT_EQ(textOf(page, 1242), L"0.80");
    click(page, 1032);
    EXPECT_EQ(fire.fires[0]->burningAtStart, DialogTools::isChecked(page, 1032) ? 1u : 0u);
    Functions::Fire::Entry* second = fire.fires[1].get();
    click(page, 1263);
    ASSERT_EQ(fire.fires.size(), 1u);
    EXPECT_EQ(fire.fires[0].get(), second) << "the next fire takes the deleted one's place";
    EXPECT_EQ(textOf(page, 1266), L"1");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1263)));
    click(page, 1263);
    EXPECT_EQ(fire.fires.size(), 1u) << "the last fire stays";
    for (int i = 0; i < 40; ++i)
        click(page, 1259);
    EXPECT_EQ(fire.fires.size(), size_t(Functions::Fire::maxFires));

    HFONT font = fire.font.font;
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(GetObjectType(font), DWORD(OBJ_FONT));
    click(page, IDOK);
    EXPECT_EQ(fire.window, nullptr);
    EXPECT_EQ(fire.editFlag, 0u);
    EXPECT_EQ(fire.font.font, nullptr) << "the page's font goes with the page";
    EXPECT_EQ(GetObjectType(font), 0u);
}

// A modal page returns the result it was closed with, and forgets its window.
TEST_F(EditorPages, AModalPageReturnsItsResult)
{
    Functions::Collect collect(nullptr);
    std::thread closer([] {
        for (int i = 0; i < 400; ++i) {
            // A modal page shows itself only once its initialisation has filled
            // the fields; typing earlier would be overwritten.
            HWND found = FindWindowW(L"#32770", L"Pick-up");
            if (found && IsWindowVisible(found)) {
                SetDlgItemTextW(found, 1059, L"4");
                PostMessageW(found, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(25);
        }
    });
    EXPECT_EQ(collect.create(DialogPages::collect, nullptr, false), IDOK);
    closer.join();
    EXPECT_EQ(collect.window, nullptr);
    EXPECT_EQ(collect.value, 4u) << "typed while it was open";
}

TEST_F(EditorPages, AChosenSoundBecomesTheFiresAndPlays)
{
    const std::wstring wav = folder + L"crackle.wav";
    ASSERT_TRUE(AppTestFiles::write(wav, SoundSamples::wav(SoundSamples::click())));
    const std::wstring damaged = folder + L"damaged.ogg";
    ASSERT_TRUE(AppTestFiles::write(damaged, {'O', 'g', 'g', 'S', 1, 2, 3}));
    Audio::init(GetDesktopWindow());
    DialogTools::openFileFunction = answerOpen;
    {
        Functions::Fire fire(nullptr);
        fire.create(DialogPages::fire, nullptr, true);
        HWND page = fire.window;
        ASSERT_NE(page, nullptr);
        Functions::Fire::Entry& entry = *fire.fires[0];

        // Cancelled: nothing changes, the radio buttons go back to no sound.
        chooserAnswers = false;
        click(page, 1254);
        EXPECT_EQ(entry.soundType, 0u);
        EXPECT_TRUE(DialogTools::isChecked(page, 1253));

        chooserAnswers = true;
        chosenPath = wav;
        click(page, 1254);
        EXPECT_EQ(entry.soundType, Audio::FileRef::typeWav);
        ASSERT_NE(entry.soundRef, nullptr);
        EXPECT_STREQ(entry.soundRef->name.text(), L"crackle.wav");
        EXPECT_EQ(entry.sound.size(), AppTestFiles::read(wav).size());
        EXPECT_TRUE(DialogTools::isChecked(page, 1254));
        const int32_t files = Audio::AudioFile::list().count();
        click(page, 1255);
        EXPECT_EQ(Audio::AudioFile::list().count(), files + 1) << "the sound was prepared and played";

        // A file that cannot be opened leaves the fire without a sound.
        chosenPath = folder + L"missing.wav";
        click(page, 1256);
        EXPECT_EQ(entry.soundType, 0u);
        EXPECT_EQ(entry.soundRef, nullptr);
        EXPECT_TRUE(DialogTools::isChecked(page, 1253));
        click(page, 1255);

        // A damaged sound plays nothing, and nothing breaks.
        chosenPath = damaged;
        click(page, 1256);
        click(page, 1255);

        click(page, 1253);
        EXPECT_EQ(entry.soundType, 0u);
        EXPECT_EQ(entry.sound.size(), 0u);
    }
    Audio::release();
}

TEST_F(EditorPages, TheRocketPagePreviewsChosenImagesAndTakesSounds)
{
    ImageFileWriter::Image green;
    green.width = green.height = 16;
    green.argb.assign(256, 0xFF20C040u);
    const std::wstring image = folder + L"green.png";
    ASSERT_TRUE(AppTestFiles::write(image, ImageFileWriter::png(green)));
    const std::wstring damagedImage = folder + L"damaged.png";
    ASSERT_TRUE(AppTestFiles::write(damagedImage, {0x89, 'P', 'N', 'G', 1, 2, 3, 4}));
    const std::wstring wav = folder + L"boom.wav";
    ASSERT_TRUE(AppTestFiles::write(wav, SoundSamples::wav(SoundSamples::click())));
    DialogTools::openFileFunction = answerOpen;

    Functions::Rocket rocket(nullptr);
    rocket.create(DialogPages::rocket, nullptr, true);
    HWND page = rocket.window;
    ASSERT_NE(page, nullptr);
    for (int32_t id : {1233, 1257, 1259, 1261})
        EXPECT_EQ(textOf(page, id), L"\u25BA");
    for (const DialogTools::Bitmap& preview : rocket.previews) {
        EXPECT_EQ(preview.width(), 40);
        EXPECT_NE(preview.bitmap, nullptr);
    }

    // Image B: the preview shows it; a damaged one shows the stand-in.
    struct Case
    {
        const std::wstring* path;
        bool shows;
    };
    for (const Case& c : {Case{&image, true}, Case{&damagedImage, false}}) {
        chosenPath = *c.path;
        click(page, 1011);
        EXPECT_STREQ(rocket.imageNames[1].text(), c.path->c_str());
        EXPECT_EQ(rocket.images[1].size(), AppTestFiles::read(*c.path).size());
        const Color middle = *rocket.previews[1].pixel(20, 20);
        if (c.shows) {
            EXPECT_EQ(middle.g, 0xC0);
            EXPECT_EQ(middle.r, 0x20);
        } else {
            EXPECT_NE(middle.g, 0xC0) << "the stand-in";
        }
        EXPECT_EQ(HBITMAP(SendDlgItemMessageW(page, 1240, STM_GETIMAGE, IMAGE_BITMAP, 0)) != nullptr, true);
    }
    EXPECT_EQ(rocket.images[0].size(), 0u) << "the other images stay";

    // A cancelled chooser changes nothing; a chosen sound gets a new reference.
    chooserAnswers = false;
    click(page, 1236);
    EXPECT_EQ(rocket.imageNames[0].length(), 0);
    click(page, 1262);
    EXPECT_EQ(rocket.soundRefs[Functions::Rocket::explosion], nullptr);
    chooserAnswers = true;
    chosenPath = wav;
    click(page, 1262);
    ASSERT_NE(rocket.soundRefs[Functions::Rocket::explosion], nullptr);
    EXPECT_EQ(rocket.soundRefs[Functions::Rocket::explosion]->name.length(), 10);
    EXPECT_EQ(rocket.sounds[Functions::Rocket::explosion].size(), AppTestFiles::read(wav).size());
    click(page, 1261); // plays on no sound device: nothing happens
    chosenPath = folder + L"missing.wav";
    click(page, 1262);
    EXPECT_EQ(rocket.soundRefs[Functions::Rocket::explosion], nullptr) << "a file that cannot be read leaves it empty";
    click(page, IDCANCEL);
    EXPECT_EQ(rocket.window, nullptr);
}
