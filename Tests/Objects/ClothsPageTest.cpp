// The cloth's editing page, opened as a modeless page from the dialog
// template the content builder writes and driven with SendMessageW as its
// controls would: the template's values at opening, the sliders, the plane,
// pins, colours and texture, and the rebuilds of the edited cloth, also
// while the package manager's worker steps it.
#include "../Application/AppTestFiles.h"
#include "../Render/TestDevice.h"
#include "EffectsTestSupport.h"
#include "PageControls.h"

#include "DialogTemplateWriter.h"
#include "ImageFileWriter.h"

#include "Objects/Cloths.h"

#include "Application/DialogTools.h"

#include "DialogPages.h"

#include <commctrl.h>
#include <mmsystem.h>

#include <climits>
#include <set>
#include <string>

using namespace TestDevice;
using PageControls::click;
using PageControls::textOf;
using PageControls::type;
using Cloths = ObjPkgManager::Functions::Cloths;
using Cloth = Cloths::Instance;

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
COLORREF offeredCustom[4] = {};
BOOL WINAPI answerColour(CHOOSECOLORW* choice)
{
    std::copy(choice->lpCustColors, choice->lpCustColors + 4, offeredCustom);
    if (!chooserAnswers)
        return FALSE;
    choice->rgbResult = chosenColour;
    return TRUE;
}

// The thumb of trackbar id at position, its notification, then (with let
// go) the end of the drag.
void slide(HWND dialog, int32_t id, int32_t position, bool letGo = true)
{
    PageControls::slide(dialog, id, position);
    if (letGo)
        SendMessageW(dialog, WM_HSCROLL, TB_ENDTRACK, LPARAM(GetDlgItem(dialog, id)));
}

// The pixel a swatch button paints in its middle.
COLORREF swatchPixel(HWND dialog, int32_t id)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP target = CreateCompatibleBitmap(screen, 16, 12);
    HGDIOBJ old = SelectObject(memory, target);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = UINT(id);
    item.itemAction = ODA_DRAWENTIRE;
    item.hwndItem = GetDlgItem(dialog, id);
    item.hDC = memory;
    item.rcItem = {0, 0, 16, 12};
    SendMessageW(dialog, WM_DRAWITEM, WPARAM(id), LPARAM(&item));
    const COLORREF pixel = GetPixel(memory, 8, 6);
    SelectObject(memory, old);
    DeleteObject(target);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixel;
}

std::set<std::pair<int, int>> pinnedPoints(Cloth& cloth)
{
    std::set<std::pair<int, int>> points;
    for (int c = 0; c < cloth.columns; ++c)
        for (int r = 0; r < cloth.rows; ++r)
            if (cloth.working(c, r).pinned)
                points.insert({c, r});
    return points;
}

class ClothsPage : public DeviceSuite
{
protected:
    static void SetUpTestSuite()
    {
        DeviceSuite::SetUpTestSuite();
        folder = AppTestFiles::freshFolder(L"clothpage");
    }
    void TearDown() override
    {
        DialogTools::openFileFunction = GetOpenFileNameW;
        DialogTools::chooseColorFunction = ChooseColorW;
        chooserAnswers = true;
    }
    static inline std::wstring folder;
};

constexpr int32_t controlIds[] = {1024, 1025, 1028, 1026, 1208, 1210, 1211, 1213, 1214, 1216, 1027, 1033,
                                  1215, 1218, 1013, 1014, 1018, 1029, 1023, 1019, 1020, 1021, 1022, 1030,
                                  1031, 1032, 1034, 1015, 1052, 1017, 1016, 1010, 1047, IDOK,  IDCANCEL};

} // namespace

// The page opens from its template with every control, and shows the
// template: sliders, plane, check boxes, pins, the material's colours and
// the preview; the preview goes with the page.
TEST_F(ClothsPage, OpensWithItsControlsAndShowsTheTemplate)
{
    bool listed = false;
    for (const DialogTemplateWriter::Page& page : DialogTemplateWriter::pages())
        if (page.resource == DialogPages::cloths) {
            listed = true;
            for (int32_t id : controlIds)
                EXPECT_TRUE(page.has(id)) << id;
        }
    EXPECT_TRUE(listed) << "the builder's table has the page";

    Cloths cloths(nullptr);
    cloths.material.Power = 30.0f;
    cloths.material.Emissive = {0.5f, 2.0f, -1.0f, 0.25f};
    EXPECT_EQ(cloths.create(DialogPages::cloths, nullptr, true), 0);
    HWND page = cloths.window;
    ASSERT_NE(page, nullptr);
    for (int32_t id : controlIds)
        EXPECT_NE(GetDlgItem(page, id), nullptr) << id;

    struct Shown
    {
        int32_t id;
        const wchar_t* text;
    };
    for (const Shown& s : {Shown{1025, L"18"}, Shown{1026, L"16"}, Shown{1210, L"0.60"}, Shown{1213, L"0.0"},
                           Shown{1216, L"0.30"}, Shown{1033, L"30.0"}, Shown{1218, L"9.81"}, Shown{1019, L"0"},
                           Shown{1020, L"0"}, Shown{1021, L"0"}, Shown{1022, L"15"}, Shown{1030, L"-1"},
                           Shown{1031, L"-1"}, Shown{1032, L"-1"}, Shown{1034, L"-1"}})
        EXPECT_EQ(textOf(page, s.id), s.text) << s.id;
    EXPECT_EQ(cloths.specularPower, 30.0f) << "the slider shows the material's power";
    EXPECT_EQ(SendDlgItemMessageW(page, 1027, TBM_GETPOS, 0, 0), 85) << "30 of 70 over 200 steps";
    EXPECT_TRUE(DialogTools::isChecked(page, 1018));
    EXPECT_FALSE(DialogTools::isChecked(page, 1013) || DialogTools::isChecked(page, 1014));
    EXPECT_TRUE(DialogTools::isChecked(page, 1023)) << "pin line";
    EXPECT_FALSE(DialogTools::isChecked(page, 1029)) << "wind from motion";

    // The swatches from the material, each component x 255 (a stored value
    // beyond 0..1 at its end), alpha included.
    EXPECT_EQ(cloths.swatches[0], Color(255, 255, 255, 255));
    EXPECT_EQ(cloths.swatches[1], Color(153, 153, 153, 255));
    EXPECT_EQ(cloths.swatches[2], Color(128, 255, 0, 64));
    EXPECT_EQ(cloths.swatches[3], Color(255, 255, 255, 255));
    EXPECT_EQ(swatchPixel(page, 1052), RGB(153, 153, 153));
    EXPECT_EQ(swatchPixel(page, 1017), RGB(128, 255, 0));

    // The preview: 64 x 64, the stand-in without an image.
    RECT shown{};
    GetWindowRect(GetDlgItem(page, 1047), &shown);
    EXPECT_EQ(shown.right - shown.left, 64);
    EXPECT_EQ(shown.bottom - shown.top, 64);
    EXPECT_EQ(cloths.preview.width(), 64);
    EXPECT_NE(SendDlgItemMessageW(page, 1047, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
    EXPECT_EQ(cloths.create(DialogPages::cloths, nullptr, true), 0) << "an open page is raised";
    EXPECT_EQ(cloths.window, page);
    click(page, IDCANCEL);
    EXPECT_EQ(cloths.window, nullptr);
    EXPECT_FALSE(IsWindow(page));
    EXPECT_EQ(cloths.preview.bitmap, nullptr) << "the preview goes with the page";

    // Other planes; a plane the cloth builds as the vertical one shows so.
    struct Plane
    {
        int32_t plane, button;
    };
    for (const Plane& p : {Plane{6, 1013}, Plane{7, 1014}, Plane{3, 1018}}) {
        cloths.plane = p.plane;
        cloths.pinLine = 0;
        cloths.windFromMotion = 1;
        cloths.create(DialogPages::cloths, nullptr, true);
        ASSERT_NE(cloths.window, nullptr);
        EXPECT_TRUE(DialogTools::isChecked(cloths.window, p.button)) << p.plane;
        EXPECT_FALSE(DialogTools::isChecked(cloths.window, 1023));
        EXPECT_TRUE(DialogTools::isChecked(cloths.window, 1029));
        EXPECT_EQ(cloths.plane, p.plane) << "opening changes nothing";
        cloths.close(IDOK);
    }
}

// Each float slider writes its own value over its own range; the specular
// power also the material's. The grid sliders show their value as the
// thumb moves and resize the edited cloth when it is let go.
TEST_F(ClothsPage, SlidersWriteTheTemplateAndTheGridResizesTheEditedCloth)
{
    ObjPkgManager::Functions::Record record{nullptr};
    Cloths cloths(&record);
    std::unique_ptr<Cloth> cloth(cloths.createInstance(nullptr, nullptr));
    ASSERT_NE(cloth, nullptr);
    cloths.create(DialogPages::cloths, nullptr, true);
    HWND page = cloths.window;
    ASSERT_NE(page, nullptr);

    struct Case
    {
        int32_t trackbar, label, position;
        float Cloths::*field;
        float value;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {1208, 1210, 25, &Cloths::windStrength, 0.25f, L"0.25"}, {1211, 1213, 50, &Cloths::windAngle, 180.0f, L"180.0"},
        {1214, 1216, 0, &Cloths::damping, 0.1f, L"0.10"},        {1027, 1033, 200, &Cloths::specularPower, 70.0f, L"70.0"},
        {1215, 1218, 100, &Cloths::gravity, 10.0f, L"10.00"},
    };
    float Cloths::*const fields[] = {&Cloths::windStrength, &Cloths::windAngle, &Cloths::damping,
                                     &Cloths::specularPower, &Cloths::gravity};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trackbar);
        float before[5];
        for (int k = 0; k < 5; ++k)
            before[k] = cloths.*fields[k];
        slide(page, c.trackbar, c.position, false);
        for (int k = 0; k < 5; ++k)
            if (fields[k] == c.field)
                EXPECT_NEAR(cloths.*fields[k], c.value, 1e-4f) << "live, before the thumb is let go";
            else
                EXPECT_EQ(cloths.*fields[k], before[k]);
        EXPECT_EQ(textOf(page, c.label), c.shown);
    }
    EXPECT_FLOAT_EQ(cloths.material.Power, 70.0f);
    // The end of a drag alone also copies the power.
    cloths.material.Power = 1.0f;
    SendMessageW(page, WM_HSCROLL, TB_ENDTRACK, LPARAM(GetDlgItem(page, 1027)));
    EXPECT_FLOAT_EQ(cloths.material.Power, 70.0f);

    // Columns: 2 to 64 over 38 steps. While the thumb moves only the label
    // and the value follow; let go, the grid and the cloth change.
    slide(page, 1024, 38, false);
    EXPECT_EQ(textOf(page, 1025), L"64");
    EXPECT_EQ(cloth->columns, 18) << "not rebuilt while the thumb moves";
    SendMessageW(page, WM_HSCROLL, TB_ENDTRACK, LPARAM(GetDlgItem(page, 1024)));
    EXPECT_EQ(cloths.columns, 64);
    EXPECT_EQ(cloth->columns, 64);
    EXPECT_EQ(cloths.vertexCount, 2 * 64 * 16);
    EXPECT_EQ(cloths.triangleCount, 4 * 63 * 15);
    EXPECT_EQ(cloth->indexCount, 12 * 63 * 15);
    slide(page, 1028, 0);
    EXPECT_EQ(textOf(page, 1026), L"2");
    EXPECT_EQ(cloth->rows, 2);
    EXPECT_EQ(cloths.vertexCount, 2 * 64 * 2);
    slide(page, 1024, 19);
    EXPECT_EQ(cloths.columns, 33);
    EXPECT_EQ(cloth->columns, 33);
    EXPECT_EQ(textOf(page, 1025), L"33");
    // The rebuilt cloth steps.
    cloth->step(false);
    EXPECT_LT(cloth->working(32, 0).position.y, 0.0f) << "the free corner falls";

    // Without an edited cloth the page still sets the grid.
    cloth.reset();
    EXPECT_EQ(cloths.edited, nullptr);
    slide(page, 1024, 0);
    EXPECT_EQ(cloths.columns, 2);
    click(page, IDOK);
    EXPECT_EQ(cloths.window, nullptr);
}

// The plane buttons, the pin line and the pins' fields rebuild the edited
// cloth; wind from motion waits for the next build; the colour buttons
// set the material; a chosen texture becomes the cloth's and the preview.
TEST_F(ClothsPage, PlanePinsColoursAndTextureEditTheCloth)
{
    ImageFileWriter::Image green;
    green.width = green.height = 16;
    green.argb.assign(256, 0xFF20C040u);
    const std::wstring image = folder + L"green.png";
    ASSERT_TRUE(AppTestFiles::write(image, ImageFileWriter::png(green)));
    const std::wstring damaged = folder + L"damaged.png";
    ASSERT_TRUE(AppTestFiles::write(damaged, {0x89, 'P', 'N', 'G', 1, 2, 3, 4}));
    DialogTools::openFileFunction = answerOpen;
    DialogTools::chooseColorFunction = answerColour;

    ObjPkgManager::Functions::Record record{nullptr};
    Cloths cloths(&record);
    std::unique_ptr<Cloth> cloth(cloths.createInstance(nullptr, nullptr));
    ASSERT_NE(cloth, nullptr);
    cloths.create(DialogPages::cloths, nullptr, true);
    HWND page = cloths.window;
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(pinnedPoints(*cloth).size(), 16u) << "the default first column";

    // The horizontal plane, then back to the vertical one.
    click(page, 1014);
    EXPECT_EQ(cloths.plane, 7);
    EXPECT_EQ(cloth->working(17, 15).position, vec3d(17.0f, 0.0f, 15.0f));
    click(page, 1013);
    EXPECT_EQ(cloths.plane, 6);
    EXPECT_EQ(cloth->working(17, 15).position, vec3d(0.0f, 17.0f, 15.0f));
    click(page, 1018);
    EXPECT_EQ(cloths.plane, 8);
    EXPECT_EQ(cloth->working(17, 15).position, vec3d(17.0f, 15.0f, 0.0f));

    // The pin line off: only A and B.
    CheckDlgButton(page, 1023, BST_UNCHECKED);
    click(page, 1023);
    EXPECT_EQ(cloths.pinLine, 0u);
    EXPECT_EQ(pinnedPoints(*cloth), (std::set<std::pair<int, int>>{{0, 0}, {0, 15}}));

    // Typed pins: each field its coordinate; text that is no number, or
    // empty, gives 0; a long text is read to its first 100 characters.
    struct Typed
    {
        int32_t field;
        std::wstring text;
        Cloths::GridPoint Cloths::*pin;
        Cloths::GridPoint value;
        std::set<std::pair<int, int>> pinned;
    };
    const Typed typed[] = {
        {1022, L"7", &Cloths::pinB, {0, 7}, {{0, 0}, {0, 7}}},
        {1021, L"5", &Cloths::pinB, {5, 7}, {{0, 0}, {5, 7}}},
        {1030, L"17", &Cloths::pinC, {17, -1}, {{0, 0}, {5, 7}}},
        {1031, L"15", &Cloths::pinC, {17, 15}, {{0, 0}, {5, 7}, {17, 15}}},
        {1032, L"abc", &Cloths::pinD, {0, -1}, {{0, 0}, {5, 7}, {17, 15}}},
        {1034, L"", &Cloths::pinD, {0, 0}, {{0, 0}, {5, 7}, {17, 15}}},
        {1019, L"3" + std::wstring(150, L'0'), &Cloths::pinA, {INT32_MAX, 0}, {{0, 0}, {5, 7}, {17, 15}}},
        {1019, L"-0012", &Cloths::pinA, {-12, 0}, {{0, 0}, {5, 7}, {17, 15}}},
        {1019, L"0", &Cloths::pinA, {0, 0}, {{0, 0}, {5, 7}, {17, 15}}},
        {1020, L"2x", &Cloths::pinA, {0, 2}, {{0, 2}, {5, 7}, {17, 15}, {0, 0}}},
    };
    for (const Typed& t : typed) {
        SCOPED_TRACE(t.field);
        type(page, t.field, t.text);
        EXPECT_EQ(cloths.*t.pin, t.value);
        EXPECT_EQ(pinnedPoints(*cloth), t.pinned);
    }
    // The line again: from A (0, 2) to B (5, 7).
    CheckDlgButton(page, 1023, BST_CHECKED);
    click(page, 1023);
    EXPECT_EQ(pinnedPoints(*cloth), (std::set<std::pair<int, int>>{
                                        {0, 2}, {1, 3}, {2, 4}, {3, 5}, {4, 6}, {5, 7}, {17, 15}, {0, 0}}));

    // Wind from motion is taken at the next build.
    CheckDlgButton(page, 1029, BST_CHECKED);
    click(page, 1029);
    EXPECT_EQ(cloths.windFromMotion, 1u);
    EXPECT_EQ(cloth->windFromMotion.load(), 0u);
    click(page, 1014);
    EXPECT_EQ(cloth->windFromMotion.load(), 1u);
    CheckDlgButton(page, 1029, BST_UNCHECKED);
    click(page, 1029);
    EXPECT_EQ(cloths.windFromMotion, 0u);
    EXPECT_EQ(cloth->windFromMotion.load(), 1u);

    // Colours: the chosen red, green and blue over 255, the alpha kept; the
    // four colours offered as custom colours; cancelled, nothing changes.
    chosenColour = RGB(200, 100, 50);
    click(page, 1052);
    EXPECT_FLOAT_EQ(cloths.material.Ambient.r, 200.0f / 255.0f);
    EXPECT_FLOAT_EQ(cloths.material.Ambient.g, 100.0f / 255.0f);
    EXPECT_FLOAT_EQ(cloths.material.Ambient.b, 50.0f / 255.0f);
    EXPECT_FLOAT_EQ(cloths.material.Ambient.a, 1.0f);
    EXPECT_EQ(cloths.swatches[1], Color(200, 100, 50, 255));
    EXPECT_EQ(offeredCustom[1], RGB(153, 153, 153));
    EXPECT_EQ(swatchPixel(page, 1052), RGB(200, 100, 50));
    chosenColour = RGB(10, 20, 30);
    click(page, 1016);
    EXPECT_FLOAT_EQ(cloths.material.Specular.g, 20.0f / 255.0f);
    EXPECT_EQ(offeredCustom[0], RGB(255, 255, 255));
    EXPECT_EQ(offeredCustom[1], RGB(200, 100, 50));
    EXPECT_EQ(offeredCustom[2], RGB(0, 0, 0));
    EXPECT_EQ(swatchPixel(page, 1016), RGB(10, 20, 30));
    EXPECT_FLOAT_EQ(cloths.material.Diffuse.r, 1.0f) << "the other colours stay";
    chooserAnswers = false;
    chosenColour = RGB(1, 1, 1);
    click(page, 1015);
    click(page, 1017);
    EXPECT_FLOAT_EQ(cloths.material.Diffuse.g, 1.0f);
    EXPECT_FLOAT_EQ(cloths.material.Emissive.r, 0.0f);
    EXPECT_EQ(cloths.swatches[0], Color(255, 255, 255, 255));

    // The texture: a cancel and a file that cannot be opened change
    // nothing; a picture becomes the image, the name, the preview and the
    // cloth's texture; a damaged picture is taken and shown as the stand-in.
    click(page, 1010);
    EXPECT_EQ(cloths.image.size(), 0u);
    chooserAnswers = true;
    chosenPath = folder + L"missing.png";
    click(page, 1010);
    EXPECT_EQ(cloths.image.size(), 0u);
    EXPECT_EQ(cloths.textureName.length(), 0);
    const int32_t columnsBefore = cloth->columns;
    chosenPath = image;
    cloth->working(3, 3).position = {9.0f, 9.0f, 9.0f};
    click(page, 1010);
    EXPECT_STREQ(cloths.textureName.text(), image.c_str());
    EXPECT_EQ(cloths.image.size(), AppTestFiles::read(image).size());
    EXPECT_EQ(cloths.preview.pixel(32, 32)->g, 0xC0);
    EXPECT_EQ(cloths.preview.pixel(32, 32)->r, 0x20);
    EXPECT_NE(cloth->texture.texture(), nullptr) << "rebuilt with the picture";
    EXPECT_EQ(cloth->working(3, 3).position, vec3d(3.0f, 0.0f, 3.0f)) << "rebuilt";
    EXPECT_EQ(cloth->columns, columnsBefore);
    chosenPath = damaged;
    click(page, 1010);
    EXPECT_EQ(cloths.image.size(), AppTestFiles::read(damaged).size());
    EXPECT_NE(cloths.preview.pixel(32, 32)->g, 0xC0) << "the stand-in";
    click(page, IDOK);
    EXPECT_EQ(cloths.window, nullptr);
}

// A grid slider, a pin and the plane rebuild the edited cloth while the
// package manager's worker steps it: each rebuild holds the worker, the
// scene's camera step resumes it, and the cloth steps on at its new size.
TEST_F(ClothsPage, AWidthSliderRebuildsTheEditedClothWhileTheWorkerRuns)
{
    EffectsTests::World world;
    ObjPkgManager::Package* banner = world.package(L"Banner");
    ASSERT_NE(banner, nullptr);
    Cloths* cloths = banner->functions.cloths;
    ASSERT_NE(cloths, nullptr);
    ThreadManager& threads = world.scene.objectPackages.threads;
    ASSERT_TRUE(threads.thread.isRunning());
    std::unique_ptr<Cloth> other(cloths->createInstance(&world.chain, nullptr));
    std::unique_ptr<Cloth> cloth(cloths->createInstance(&world.chain, nullptr));
    ASSERT_NE(cloth, nullptr);
    ASSERT_EQ(cloths->edited, cloth.get());
    world.scene.updateCamera();
    ASSERT_EQ(threads.state.load(), ThreadManager::stateRunning);

    // Stepped since the call; false after a minute (only a worker that
    // stopped takes that long).
    const auto stepped = [](Cloth& c) {
        const uint8_t before = c.stamp;
        const DWORD start = timeGetTime();
        while (timeGetTime() - start < 60000) {
            if (c.stamp != before)
                return true;
            Sleep(5);
        }
        return false;
    };
    cloths->create(DialogPages::cloths, nullptr, true);
    HWND page = cloths->window;
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(threads.state.load(), ThreadManager::stateRunning) << "opening the page holds nothing";
    for (int32_t position = 0; position <= 38; ++position) {
        SCOPED_TRACE(position);
        slide(page, 1024, position);
        const int32_t columns = cloths->columns;
        ASSERT_EQ(cloth->columns, columns);
        ASSERT_EQ(other->columns, 24) << "only the edited cloth";
        ASSERT_EQ(threads.state.load(), ThreadManager::stateHeld);
        world.scene.updateCamera();
        ASSERT_EQ(threads.state.load(), ThreadManager::stateRunning);
        if (position % 10 == 0)
            ASSERT_TRUE(stepped(*cloth));
    }
    type(page, 1022, L"3");
    EXPECT_EQ(threads.state.load(), ThreadManager::stateHeld);
    world.scene.updateCamera();
    click(page, 1013);
    EXPECT_EQ(threads.state.load(), ThreadManager::stateHeld);
    world.scene.updateCamera();
    EXPECT_TRUE(stepped(*cloth));
    EXPECT_EQ(threads.jobs.count(), 2);
    click(page, IDOK);
    cloth.reset();
    other.reset();
    world.scene.updateCamera();
    EXPECT_EQ(threads.jobs.count(), 0);
}
