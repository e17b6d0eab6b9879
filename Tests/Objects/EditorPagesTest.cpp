// The object functions' editing pages, opened as modeless pages from the
// dialog templates the content builder writes, driven with SendMessageW as
// the controls would (BN_CLICKED, EN_CHANGE, trackbar notifications) and read
// back through the controls and the templates. Files and colours are
// answered through DialogTools' seams.
#include "../Application/AppTestFiles.h"
#include "../Render/TestDevice.h"
#include "PageControls.h"

#include "DialogTemplateWriter.h"
#include "ImageFileWriter.h"
#include "SoundSamples.h"

#include "Objects/Bush.h"
#include "Objects/Fire.h"
#include "Objects/Inventory.h"
#include "Objects/LensFlare.h"
#include "Objects/ObjectFunctions.h"
#include "Objects/OilPuddle.h"
#include "Objects/Rocket.h"
#include "Objects/Spin.h"

#include "Application/DialogTools.h"
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"

#include "DialogPages.h"

#include <commctrl.h>

#include <iterator>

#include <string>
#include <thread>
#include <vector>

using namespace TestDevice;
using namespace PageControls;
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

COLORREF chosenColour = 0;
BOOL WINAPI answerColour(CHOOSECOLORW* choice)
{
    if (!chooserAnswers)
        return FALSE;
    choice->rgbResult = chosenColour;
    return TRUE;
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
        DialogTools::chooseColorFunction = ChooseColorW;
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
    Functions::Bush bush(nullptr);
    Functions::LensFlare flare(nullptr);
    Functions::Spin spin(nullptr);
    Functions::Inventory inventory(nullptr);
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
        {"Bush", &bush, DialogPages::bush, {1033, 1034, 1035, 1036, IDOK, IDCANCEL}},
        {"LensFlare", &flare, DialogPages::lensFlare, {1237, 1238, 1213, 1259, 1263, 1264, 1266, IDCANCEL, IDCLOSE}},
        {"Spin",
         &spin,
         DialogPages::spin,
         {1202, 1205, 1203, 1207, 1208, 1213, 1209, 1212, 1214, 1219, 1215, 1218, 1220, 1222, 1223, 1225, 1226, 1228,
          IDOK, IDCANCEL}},
        {"Inventory", &inventory, DialogPages::inventory, {1229, 1230, IDOK, IDCANCEL}},
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

// Each of the six trackbars writes its own value of the selected fire and
// shows it, with two decimals, in its own label only: the other labels and
// the preset buttons' captions stay as they were.
TEST_F(EditorPages, EachFireSliderShowsItsValueInItsOwnLabel)
{
    Functions::Fire fire(nullptr);
    fire.create(DialogPages::fire, nullptr, true);
    HWND page = fire.window;
    ASSERT_NE(page, nullptr);
    using Look = Functions::Fire::Look;
    struct Pair
    {
        int32_t trackbar, label, position;
        float Look::*field;
        float value;
        const wchar_t* text;
    };
    const Pair pairs[] = {
        {1237, 1238, 12, &Look::brightnessCurve, 0.12f, L"0.12"}, {1241, 1242, 23, &Look::spin, 0.23f, L"0.23"},
        {1244, 1245, 34, &Look::sizeCurve, 0.34f, L"0.34"},        {1247, 1248, 145, &Look::endSize, 1.45f, L"1.45"},
        {1257, 1258, 56, &Look::sizeSpread, 0.56f, L"0.56"},      {1260, 1261, 67, &Look::flicker, 0.67f, L"0.67"},
    };
    const std::wstring presets[2] = {textOf(page, 1249), textOf(page, 1250)};
    for (const Pair& moved : pairs) {
        std::vector<std::wstring> before;
        for (const Pair& other : pairs)
            before.push_back(textOf(page, other.label));
        slide(page, moved.trackbar, moved.position);
        EXPECT_FLOAT_EQ(fire.fires[0]->look.*moved.field, moved.value) << moved.trackbar;
        EXPECT_EQ(textOf(page, moved.label), moved.text) << moved.trackbar;
        for (size_t k = 0; k < std::size(pairs); ++k)
            if (pairs[k].label != moved.label)
                EXPECT_EQ(textOf(page, pairs[k].label), before[k]) << moved.trackbar << " into " << pairs[k].label;
        EXPECT_EQ(textOf(page, 1249), presets[0]) << moved.trackbar;
        EXPECT_EQ(textOf(page, 1250), presets[1]) << moved.trackbar;
    }
    // A preset moves every slider and rewrites every label, still in place.
    click(page, 1250);
    for (const Pair& pair : pairs)
        EXPECT_EQ(textOf(page, pair.label).size(), 4u) << pair.label;
    EXPECT_EQ(textOf(page, 1248), L"0.50");
    EXPECT_EQ(textOf(page, 1249), presets[0]);
    EXPECT_EQ(textOf(page, 1250), presets[1]);
    click(page, IDOK);
}

// A modal page returns the result it was closed with, and forgets its window.
TEST_F(EditorPages, AModalPageReturnsItsResult)
{
    Functions::Collect collect(nullptr);
    collect.value = 9;
    std::thread closer([] {
        // A minute at most: only a page that never shows takes that long. The
        // window exists before WM_INITDIALOG has filled the field: type only
        // once the page shows its value.
        for (int i = 0; i < 2400; ++i) {
            HWND found = FindWindowW(L"#32770", L"Pick-up");
            wchar_t shown[8] = {};
            if (found && GetDlgItemTextW(found, 1059, shown, 8) > 0 && std::wstring(shown) == L"9") {
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

// Each of the nine sliders writes its own parameter over its own range.
TEST_F(EditorPages, TheSpinPageSlidersWriteTheirParameters)
{
    Functions::Spin spin(nullptr);
    spin.parameters[Functions::Spin::turnZ] = 50.0f;
    spin.create(DialogPages::spin, nullptr, true);
    HWND page = spin.window;
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(textOf(page, 1228), L"50.00") << "the value at open";
    EXPECT_EQ(SendDlgItemMessageW(page, 1226, TBM_GETPOS, 0, 0), 50);
    struct Case
    {
        int32_t trackbar, label, position;
        float value;
        const wchar_t* shown;
    };
    const Case cases[Functions::Spin::parameterCount] = {
        {1202, 1205, 250, 5.0f, L"5.00"},   {1203, 1207, 10, 1.0f, L"1.00"},    {1208, 1213, 50, 1.0f, L"1.00"},
        {1209, 1212, 100, 10.0f, L"10.00"}, {1214, 1219, 1, 0.02f, L"0.02"},    {1215, 1218, 25, 2.5f, L"2.50"},
        {1220, 1222, 10, 10.0f, L"10.00"},  {1223, 1225, 100, 100.0f, L"100.00"}, {1226, 1228, 3, 3.0f, L"3.00"},
    };
    for (int k = 0; k < Functions::Spin::parameterCount; ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(k);
        float before[Functions::Spin::parameterCount];
        std::copy(std::begin(spin.parameters), std::end(spin.parameters), before);
        slide(page, c.trackbar, c.position);
        for (int other = 0; other < Functions::Spin::parameterCount; ++other)
            if (other == k)
                EXPECT_NEAR(spin.parameters[k], c.value, 1e-4f);
            else
                EXPECT_EQ(spin.parameters[other], before[other]) << "parameter " << other << " stays";
        EXPECT_EQ(textOf(page, c.label), c.shown);
    }
    click(page, IDCANCEL);
    EXPECT_EQ(spin.window, nullptr);
}

// The lens-flare page: cone angle and colour of the selected flare, add,
// delete (disabled with one flare), next and the count; a pick in the scene
// moves the page to that flare.
TEST_F(EditorPages, TheLensFlarePageEditsItsFlares)
{
    DialogTools::chooseColorFunction = answerColour;
    Functions::LensFlare lens(nullptr);
    ASSERT_EQ(lens.flares.size(), 1u);
    lens.flares[0]->coneAngle = 30.0f;
    lens.create(DialogPages::lensFlare, nullptr, true);
    HWND page = lens.window;
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(textOf(page, 1266), L"1");
    EXPECT_EQ(textOf(page, 1238), L"30.0");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1263))) << "one flare cannot be deleted";

    // The slider over 5 to 90 degrees in 100 steps.
    slide(page, 1237, 100);
    EXPECT_FLOAT_EQ(lens.flares[0]->coneAngle, 90.0f);
    slide(page, 1237, 0);
    EXPECT_FLOAT_EQ(lens.flares[0]->coneAngle, 5.0f);
    EXPECT_EQ(textOf(page, 1238), L"5.0");

    // The colour chooser: chosen with alpha 255; cancelled, unchanged.
    lens.flares[0]->colour = Color(1, 2, 3, 40);
    chosenColour = RGB(200, 100, 50);
    click(page, 1213);
    EXPECT_EQ(lens.flares[0]->colour, Color(200, 100, 50, 255));
    chooserAnswers = false;
    chosenColour = RGB(9, 9, 9);
    click(page, 1213);
    EXPECT_EQ(lens.flares[0]->colour, Color(200, 100, 50, 255));
    chooserAnswers = true;

    // The swatch shows the selected flare's colour.
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP target = CreateCompatibleBitmap(screen, 16, 12);
    HGDIOBJ old = SelectObject(memory, target);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = 1213;
    item.itemAction = ODA_DRAWENTIRE;
    item.hwndItem = GetDlgItem(page, 1213);
    item.hDC = memory;
    item.rcItem = {0, 0, 16, 12};
    SendMessageW(page, WM_DRAWITEM, 1213, LPARAM(&item));
    EXPECT_EQ(GetPixel(memory, 8, 6), RGB(200, 100, 50));

    // Add, next, delete.
    click(page, 1259);
    ASSERT_EQ(lens.flares.size(), 2u);
    EXPECT_EQ(lens.selected, 1);
    EXPECT_EQ(textOf(page, 1266), L"2");
    EXPECT_EQ(textOf(page, 1238), L"50.0") << "a new flare's cone angle";
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, 1263)));
    slide(page, 1237, 50);
    EXPECT_FLOAT_EQ(lens.flares[1]->coneAngle, 47.5f);
    EXPECT_FLOAT_EQ(lens.flares[0]->coneAngle, 5.0f) << "the first flare keeps its own";
    SendMessageW(page, WM_DRAWITEM, 1213, LPARAM(&item));
    EXPECT_EQ(GetPixel(memory, 8, 6), RGB(255, 255, 255)) << "the new flare's white";
    SelectObject(memory, old);
    DeleteObject(target);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    click(page, 1264);
    EXPECT_EQ(lens.selected, 0) << "after the last, the first";
    EXPECT_EQ(textOf(page, 1238), L"5.0");
    EXPECT_EQ(lens.modified, 1u);
    click(page, 1264);
    EXPECT_EQ(lens.selected, 1);

    // A flare picked in the scene becomes the page's.
    lens.picked = 0;
    lens.markModified();
    EXPECT_EQ(lens.selected, 0);
    EXPECT_EQ(SendDlgItemMessageW(page, 1237, TBM_GETPOS, 0, 0), 0);

    Functions::LensFlare::Flare* second = lens.flares[1].get();
    click(page, 1263);
    ASSERT_EQ(lens.flares.size(), 1u);
    EXPECT_EQ(lens.flares[0].get(), second) << "the next flare takes the deleted one's place";
    EXPECT_EQ(lens.selected, 0);
    EXPECT_EQ(textOf(page, 1238), L"47.5");
    EXPECT_EQ(textOf(page, 1266), L"1");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1263)));
    click(page, 1263);
    EXPECT_EQ(lens.flares.size(), 1u) << "the last flare stays";
    // Deleting the last of three selects the one before.
    click(page, 1259);
    click(page, 1259);
    click(page, 1263);
    EXPECT_EQ(lens.flares.size(), 2u);
    EXPECT_EQ(lens.selected, 1);

    click(page, IDCLOSE);
    EXPECT_EQ(lens.window, nullptr);
}

// The bush and inventory pages take a chosen sound under its file name and
// play it; the bush previews its leaf image.
TEST_F(EditorPages, TheBushAndInventoryPagesTakeSoundsAndLeaves)
{
    const std::wstring wav = folder + L"rustle.wav";
    ASSERT_TRUE(AppTestFiles::write(wav, SoundSamples::wav(SoundSamples::click())));
    const std::wstring damaged = folder + L"rustle.ogg";
    ASSERT_TRUE(AppTestFiles::write(damaged, {'O', 'g', 'g', 'S', 1, 2, 3}));
    ImageFileWriter::Image green;
    green.width = green.height = 16;
    green.argb.assign(256, 0xFF20C040u);
    const std::wstring leaves = folder + L"leaves.png";
    ASSERT_TRUE(AppTestFiles::write(leaves, ImageFileWriter::png(green)));
    Audio::init(GetDesktopWindow());
    DialogTools::openFileFunction = answerOpen;
    {
        Functions::Bush bush(nullptr);
        Functions::Inventory inventory(nullptr);
        struct Case
        {
            const char* name;
            Template* page;
            uint16_t resource;
            int32_t play, choose;
            FileArray& sound;
            std::unique_ptr<Audio::FileRef>& ref;
            DialogTools::PageFont& font;
        };
        const Case cases[] = {
            {"Bush", &bush, DialogPages::bush, 1035, 1036, bush.sound, bush.soundRef, bush.font},
            {"Inventory", &inventory, DialogPages::inventory, 1229, 1230, inventory.sound, inventory.soundRef,
             inventory.font},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            c.page->create(c.resource, nullptr, true);
            HWND page = c.page->window;
            ASSERT_NE(page, nullptr);
            EXPECT_EQ(textOf(page, c.play), L"\u25BA");
            click(page, c.play); // no sound yet: nothing

            chooserAnswers = false;
            click(page, c.choose);
            EXPECT_EQ(c.ref, nullptr) << "cancelled";
            chooserAnswers = true;
            chosenPath = wav;
            click(page, c.choose);
            ASSERT_NE(c.ref, nullptr);
            EXPECT_STREQ(c.ref->name.text(), L"rustle.wav");
            EXPECT_EQ(c.ref->type, Audio::FileRef::typeWav);
            EXPECT_EQ(c.sound.size(), AppTestFiles::read(wav).size());
            const int32_t files = Audio::AudioFile::list().count();
            click(page, c.play);
            EXPECT_EQ(Audio::AudioFile::list().count(), files + 1) << "prepared and played";

            chooserAnswers = false;
            click(page, c.choose);
            ASSERT_NE(c.ref, nullptr) << "a cancel keeps the sound";
            chooserAnswers = true;

            // A damaged sound plays nothing.
            chosenPath = damaged;
            click(page, c.choose);
            click(page, c.play);
            // A file that cannot be opened leaves no sound.
            chosenPath = folder + L"missing.wav";
            click(page, c.choose);
            EXPECT_EQ(c.ref, nullptr);
            EXPECT_EQ(c.sound.size(), 0u);
            click(page, c.play);

            HFONT font = c.font.font;
            EXPECT_EQ(GetObjectType(font), DWORD(OBJ_FONT));
            click(page, IDOK);
            EXPECT_EQ(c.page->window, nullptr);
            EXPECT_EQ(GetObjectType(font), 0u) << "the page's font goes with the page";
        }

        // The leaf preview: 40 x 40, the stand-in without an image, the
        // chosen image after choosing; a file that cannot be opened changes
        // nothing.
        bush.create(DialogPages::bush, nullptr, true);
        HWND page = bush.window;
        ASSERT_NE(page, nullptr);
        RECT shown{};
        GetWindowRect(GetDlgItem(page, 1033), &shown);
        EXPECT_EQ(shown.right - shown.left, 40);
        EXPECT_EQ(shown.bottom - shown.top, 40);
        EXPECT_EQ(bush.preview.width(), 40);
        EXPECT_NE(bush.preview.pixel(20, 20)->g, 0xC0) << "the stand-in";
        chosenPath = leaves;
        click(page, 1034);
        EXPECT_EQ(bush.leafImage.size(), AppTestFiles::read(leaves).size());
        EXPECT_STREQ(bush.leafPath.text(), leaves.c_str());
        EXPECT_EQ(bush.preview.pixel(20, 20)->g, 0xC0);
        EXPECT_EQ(bush.preview.pixel(20, 20)->r, 0x20);
        EXPECT_NE(SendDlgItemMessageW(page, 1033, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
        chosenPath = folder + L"missing.png";
        click(page, 1034);
        EXPECT_EQ(bush.leafImage.size(), AppTestFiles::read(leaves).size());
        EXPECT_STREQ(bush.leafPath.text(), leaves.c_str());
        EXPECT_EQ(bush.preview.pixel(20, 20)->g, 0xC0);
        click(page, IDCANCEL);
        EXPECT_EQ(bush.window, nullptr);
        EXPECT_EQ(bush.preview.bitmap, nullptr) << "the preview goes with the page";
    }
    Audio::release();
}
