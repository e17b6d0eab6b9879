// The quad template's editing page on the builder's sample quad, opened as a
// modeless page from the generated dialog template and driven with
// SendMessageW; files are answered through DialogTools' seam.
#include "../Application/AppTestFiles.h"
#include "../Render/TestDevice.h"

#include "QuadSamplePackage.h"

#include "Vehicle/QuadPhysics.h"

#include "Objects/PackageMesh.h"

#include "Application/DialogTools.h"
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"

#include "DialogPages.h"
#include "DialogTemplateWriter.h"
#include "ImageFileWriter.h"
#include "SoundSamples.h"
#include "../Objects/PageControls.h"

#include <commctrl.h>

#include <string>

using namespace TestDevice;
using namespace PageControls;
using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;

namespace {

std::wstring chosenPath;
bool chooserAnswers = true;
std::wstring startedAt;

BOOL WINAPI answerOpen(OPENFILENAMEW* open)
{
    startedAt = open->lpstrFile;
    if (!chooserAnswers)
        return FALSE;
    wcsncpy(open->lpstrFile, chosenPath.c_str(), open->nMaxFile - 1);
    return TRUE;
}

constexpr int32_t roleButtons[QuadPhysics::roleCount] = {1216, 1218, 1220, 1222, 1224, 1226, 1228, 1230, 1232,
                                                         1234, 1236, 1238, 1240, 1242, 1246, 1250, 1252};
constexpr int32_t soundChoose[QuadPhysics::soundCount] = {1069, 1070, 1071, 1072, 1073, 1080, 1082, 1084, 1086};
constexpr int32_t soundPlay[QuadPhysics::soundCount] = {1074, 1075, 1076, 1077, 1078, 1079, 1081, 1083, 1085};

class QuadEditor : public DeviceSuite
{
protected:
    static void SetUpTestSuite()
    {
        DeviceSuite::SetUpTestSuite();
        folder = AppTestFiles::freshFolder(L"quadpage");
    }
    void TearDown() override
    {
        DialogTools::openFileFunction = GetOpenFileNameW;
        chooserAnswers = true;
    }
    static inline std::wstring folder;
};

} // namespace

// The roles show their meshes' file names or "Keine Auswahl"; a pick button
// asks for the mesh and sets the pending role; the sliders write the
// template's springs, dampers and parameters.
TEST_F(QuadEditor, RolesAndSlidersEditTheTemplate)
{
    auto package = quadSamplePackage();
    QuadPhysics* quad = package->functions.quadPhysics;
    ASSERT_NE(quad, nullptr);
    quad->roleMeshes[QuadPhysics::helmetCarried - 1] = nullptr;
    quad->rearDamper = 2.5f;

    bool listed = false;
    for (const DialogTemplateWriter::Page& page : DialogTemplateWriter::pages())
        if (page.resource == DialogPages::quad) {
            listed = true;
            for (int32_t role = 0; role < QuadPhysics::roleCount; ++role) {
                EXPECT_TRUE(page.has(roleButtons[role])) << role;
                EXPECT_TRUE(page.has(roleButtons[role] - 1)) << role;
            }
            for (int32_t slot = 0; slot < QuadPhysics::soundCount; ++slot)
                EXPECT_TRUE(page.has(soundChoose[slot]) && page.has(soundPlay[slot])) << slot;
            for (int32_t id : {1243, 1244, 1247, 1248, 1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036, 1037,
                               1038, 1039, IDCANCEL, IDCLOSE})
                EXPECT_TRUE(page.has(id)) << id;
        }
    EXPECT_TRUE(listed);

    ASSERT_EQ(quad->create(DialogPages::quad, nullptr, true), 0);
    HWND page = quad->window;
    ASSERT_NE(page, nullptr);
    for (int32_t role = 1; role <= QuadPhysics::roleCount; ++role) {
        SCOPED_TRACE(role);
        const std::wstring shown = textOf(page, roleButtons[role - 1] - 1);
        if (ObjPkgManager::Mesh* mesh = quad->mesh(role))
            EXPECT_EQ(shown, std::wstring(mesh->getName()->getFileName().text()));
        else
            EXPECT_EQ(shown, L"Keine Auswahl");
    }
    EXPECT_EQ(textOf(page, 1251), L"Keine Auswahl");
    for (int32_t id : soundPlay)
        EXPECT_EQ(textOf(page, id), L"\u25BA");

    click(page, 1250);
    EXPECT_EQ(textOf(page, 1249), L"Bitte w\u00e4hlen...");
    EXPECT_EQ(quad->pendingRole, 16);
    click(page, 1216);
    EXPECT_EQ(quad->pendingRole, 1);
    EXPECT_EQ(textOf(page, 1215), L"Bitte w\u00e4hlen...");

    // The sliders at open, then moved: each writes its own field.
    EXPECT_EQ(textOf(page, 1029), L"2.50");
    EXPECT_EQ(SendDlgItemMessageW(page, 1035, TBM_GETPOS, 0, 0), 25);
    struct Case
    {
        int32_t trackbar, label, position;
        float QuadPhysics::*field;
        float value;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {1034, 1028, 50, &QuadPhysics::rearSpring, 100.0f, L"100.00"},
        {1035, 1029, 10, &QuadPhysics::rearDamper, 1.0f, L"1.00"},
        {1038, 1032, 333, &QuadPhysics::parameter3, 1.0f, L"1.000"},
        {1036, 1030, 100, &QuadPhysics::frontSpring, 200.0f, L"200.00"},
        {1037, 1031, 5, &QuadPhysics::frontDamper, 0.5f, L"0.50"},
        {1039, 1033, 111, &QuadPhysics::parameter6, 1.0f / 3.0f, L"0.333"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trackbar);
        slide(page, c.trackbar, c.position);
        EXPECT_NEAR(quad->*c.field, c.value, 1e-4f);
        EXPECT_EQ(textOf(page, c.label), c.shown);
    }
    EXPECT_FLOAT_EQ(quad->rearSpring, 100.0f) << "each slider only its own";

    HFONT font = quad->font.font;
    EXPECT_EQ(GetObjectType(font), DWORD(OBJ_FONT));
    click(page, IDCLOSE);
    EXPECT_EQ(quad->window, nullptr);
    EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_EQ(quad->previews[0].bitmap, nullptr);

    // Opened again, the sliders show the values written.
    quad->create(DialogPages::quad, nullptr, true);
    ASSERT_NE(quad->window, nullptr);
    EXPECT_EQ(textOf(quad->window, 1032), L"1.000");
    click(quad->window, IDCANCEL);
    EXPECT_EQ(quad->window, nullptr);
}

// A chosen sound becomes its slot's audio file under its file name and
// plays; a file that cannot be opened leaves the slot empty; a cancel changes
// nothing. A chosen texture shows in its preview, through no lasting
// "WheelDirtPreviewA".
TEST_F(QuadEditor, SoundsAndTexturesAreChosenFromFiles)
{
    const std::wstring wav = folder + L"engine.wav";
    ASSERT_TRUE(AppTestFiles::write(wav, SoundSamples::wav(SoundSamples::click())));
    ImageFileWriter::Image blue;
    blue.width = blue.height = 16;
    blue.argb.assign(256, 0xFF3060E0u);
    const std::wstring image = folder + L"dirt.png";
    ASSERT_TRUE(AppTestFiles::write(image, ImageFileWriter::png(blue)));
    const std::wstring damaged = folder + L"damaged.png";
    ASSERT_TRUE(AppTestFiles::write(damaged, {0x89, 'P', 'N', 'G', 1, 2, 3, 4}));
    Audio::init(GetDesktopWindow());
    DialogTools::openFileFunction = answerOpen;
    {
        ObjPkgManager::Functions::Record record(nullptr);
        QuadPhysics quad(&record);
        quad.create(DialogPages::quad, nullptr, true);
        HWND page = quad.window;
        ASSERT_NE(page, nullptr);
        for (const DialogTools::Bitmap& preview : quad.previews) {
            EXPECT_EQ(preview.width(), 40);
            EXPECT_NE(preview.bitmap, nullptr);
        }
        for (int32_t slot : {0, 5, 8}) {
            SCOPED_TRACE(slot);
            chooserAnswers = false;
            click(page, soundChoose[slot]);
            EXPECT_EQ(quad.sounds[slot], nullptr) << "cancelled";
            chooserAnswers = true;
            chosenPath = wav;
            click(page, soundChoose[slot]);
            ASSERT_NE(quad.sounds[slot], nullptr);
            EXPECT_STREQ(quad.sounds[slot]->name.text(), L"engine.wav");
            EXPECT_EQ(quad.sounds[slot]->type, Audio::FileRef::typeWav);
            EXPECT_EQ(quad.soundStreams[slot].size(), AppTestFiles::read(wav).size());
            const int32_t files = Audio::AudioFile::list().count();
            click(page, soundPlay[slot]);
            EXPECT_EQ(Audio::AudioFile::list().count(), files + 1) << "prepared and played";
            chooserAnswers = false;
            click(page, soundChoose[slot]);
            EXPECT_EQ(startedAt, wav) << "the chooser starts at the slot's file";
            ASSERT_NE(quad.sounds[slot], nullptr) << "a cancel keeps the sound";
            chooserAnswers = true;
            chosenPath = folder + L"missing.wav";
            click(page, soundChoose[slot]);
            EXPECT_EQ(quad.sounds[slot], nullptr) << "a file that cannot be opened leaves the slot empty";
            click(page, soundPlay[slot]);
        }
        EXPECT_EQ(quad.sounds[1], nullptr) << "the other slots stay";

        struct Case
        {
            int32_t button, preview, index;
            const std::wstring* path;
            bool shows;
        };
        for (const Case& c : {Case{1247, 1248, 1, &image, true}, Case{1243, 1244, 0, &damaged, false}}) {
            chosenPath = *c.path;
            click(page, c.button);
            const String& path = c.index == 0 ? quad.dustTexturePath : quad.dirtTexturePath;
            FileArray& bytes = c.index == 0 ? quad.dustStream : quad.dirtStream;
            EXPECT_STREQ(path.text(), c.path->c_str());
            EXPECT_EQ(bytes.size(), AppTestFiles::read(*c.path).size());
            const Color middle = *quad.previews[c.index].pixel(20, 20);
            if (c.shows)
                EXPECT_EQ(middle, Color(0x30, 0x60, 0xE0, 0xFF));
            else
                EXPECT_NE(middle.b, 0xE0) << "the stand-in";
            EXPECT_NE(SendDlgItemMessageW(page, c.preview, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
            TextureRef left;
            EXPECT_FALSE(Texture::findByName(left, String(L"WheelDirtPreviewA")));
        }
        chooserAnswers = false;
        click(page, 1247);
        EXPECT_EQ(quad.dirtStream.size(), AppTestFiles::read(image).size()) << "a cancel keeps the texture";
        click(page, IDCANCEL);
    }
    Audio::release();
}
