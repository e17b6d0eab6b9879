// The object functions' editing pages: each template's dialog messages
// (Template::handleDialogMessage), on the dialog templates the content
// builder writes (include/DialogPages.h). Main thread only.
#include "Objects/EditorPages.h"

#include "Objects/Bush.h"
#include "Objects/Fire.h"
#include "Objects/Inventory.h"
#include "Objects/LensFlare.h"
#include "Objects/ObjectFunctions.h"
#include "Objects/OilPuddle.h"
#include "Objects/PackageMesh.h"
#include "Objects/PackageSounds.h"
#include "Objects/Rocket.h"
#include "Objects/Spin.h"

#include "Audio/AudioFile.h"
#include "Audio/Sound2D.h"

#include "Core/FileInterface.h"

#include <d3dx9.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace EditorPages
{

bool readWholeFile(const String& path, FileArray& into)
{
    FileInterface* file = openFile(path, 0, 1, 1);
    if (!file)
        return false;
    const bool read = file->isOpen && into.loadFrom(*file);
    file->close();
    return read;
}

void playOnce(const Audio::FileRef* ref, int32_t initialCount, int32_t capacity, int32_t step)
{
    if (!ref)
        return;
    Audio::AudioFile* file = Audio::AudioFile::get(ref, initialCount, capacity, step);
    if (!file || file->type == Audio::AudioFile::typeNone)
        return;
    if (Audio::Sound2D* sound = Audio::Sound2D::create(file))
        sound->play(false);
}

uint32_t soundTypeOf(const FileArray& bytes)
{
    FileArray& stream = const_cast<FileArray&>(bytes);
    if (stream.size() >= 4 && std::memcmp(stream.memory(), "RIFF", 4) == 0)
        return Audio::FileRef::typeWav;
    if (stream.size() >= 4 && std::memcmp(stream.memory(), "OggS", 4) == 0)
        return Audio::FileRef::typeOgg;
    return Audio::FileRef::typeNone;
}

void showPreview(HWND dialog, int32_t control, DialogTools::Bitmap& bitmap, FileArray& image, const wchar_t* name,
                 int32_t size)
{
    HWND picture = GetDlgItem(dialog, control);
    if (!picture)
        return;
    if (!bitmap.bitmap && !bitmap.create(picture, false, size, size))
        return;
    TextureRef texture;
    image.seek(0, 0);
    const bool loaded = image.size() > 0 &&
                        Texture::loadFromMemory(image, nullptr, texture, String(name), D3DX_DEFAULT, D3DX_DEFAULT, 1,
                                                D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT);
    if (loaded) {
        StructTexture::copyToBitmap(texture, bitmap);
    } else {
        // The stand-in: the default texture's checkerboard.
        for (int32_t y = 0; y < bitmap.height(); ++y)
            for (int32_t x = 0; x < bitmap.width(); ++x)
                *bitmap.pixel(x, y) = ((x / 4 + y / 4) & 1) ? Color(0xFF, 0, 0, 255) : Color(0, 0, 0x84, 255);
        bitmap.update();
    }
    // The temporary texture goes with this reference.
    texture.release();
    SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, LPARAM(bitmap.bitmap));
    InvalidateRect(picture, nullptr, FALSE);
}

bool isCommand(UINT message, WPARAM wParam, int32_t id)
{
    return message == WM_COMMAND && int32_t(LOWORD(wParam)) == id;
}

void chooseSound(HWND dialog, FileArray& bytes, std::unique_ptr<Audio::FileRef>& ref)
{
    String path;
    if (!DialogTools::openFileDialog(path, 7, dialog))
        return;
    PackageSounds::drop(ref);
    if (!readWholeFile(path, bytes)) {
        bytes.close();
        return;
    }
    const uint32_t type = PackageSounds::typeOf(bytes);
    if (type != Audio::FileRef::typeNone)
        ref.reset(new (std::nothrow) Audio::FileRef(&bytes, type, path.getFileName(), 0));
}

} // namespace EditorPages

using namespace EditorPages;

// ---------------------------------------------------------------- Collect

INT_PTR ObjPkgManager::Functions::Collect::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    constexpr int32_t valueId = 1059;
    if (message == WM_INITDIALOG) {
        wchar_t text[16];
        std::swprintf(text, 16, L"%i", int32_t(value));
        SetDlgItemTextW(dialog, valueId, text);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    const int32_t id = LOWORD(wParam);
    if (id == IDOK || id == IDCANCEL) {
        close(id);
        return TRUE;
    }
    if (id == valueId && HIWORD(wParam) == EN_CHANGE) {
        value = uint32_t(DialogTools::readInteger(dialog, valueId));
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- Gate

void ObjPkgManager::Functions::Gate::showMeshName(HWND dialog) const
{
    constexpr int32_t nameId = 1231;
    if (!mesh) {
        SetDlgItemTextW(dialog, nameId, L"Keine Auswahl");
        return;
    }
    const String shown = mesh->displayName.length() > 0 ? mesh->displayName : mesh->getName()->getFileName();
    SetDlgItemTextW(dialog, nameId, shown.text());
}

INT_PTR ObjPkgManager::Functions::Gate::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        showMeshName(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    const int32_t id = LOWORD(wParam);
    if (id == IDCANCEL || id == IDCLOSE) {
        close(id);
        return TRUE;
    }
    if (id == 1232) {
        // The level editor picks the mesh in the scene while the flag is set.
        SetDlgItemTextW(dialog, 1231, L"Bitte w\u00e4hlen...");
        pickRequest = 1;
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- OilPuddle

INT_PTR ObjPkgManager::Functions::OilPuddle::handleDialogMessage(HWND, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        close(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- Fire

namespace {

// Trackbar and label of each look value, its steps and range.
struct FireSlider
{
    int32_t trackbar, label, steps;
    float max;
    float ObjPkgManager::Functions::Fire::Look::*field;
};
using FireLook = ObjPkgManager::Functions::Fire::Look;
constexpr FireSlider fireSliders[6] = {
    {1237, 1238, 100, 1.0f, &FireLook::brightnessCurve}, {1241, 1242, 100, 1.0f, &FireLook::spin},
    {1244, 1245, 100, 1.0f, &FireLook::sizeCurve},       {1247, 1248, 200, 2.0f, &FireLook::endSize},
    {1257, 1258, 100, 1.0f, &FireLook::sizeSpread},      {1260, 1261, 100, 1.0f, &FireLook::flicker},
};
constexpr float firePresets[2][6] = {{0.15f, 0.2f, 0.05f, 0.6f, 0.1f, 0.5f}, {0.15f, 0.8f, 0.9f, 0.5f, 0.6f, 0.7f}};
constexpr int32_t fireBurning = 1032, fireNoSound = 1253, fireOwnSound = 1254, firePlay = 1255, fireChoose = 1256,
                  fireAdd = 1259, fireDelete = 1263, fireNext = 1264, fireCount = 1266;

} // namespace

void ObjPkgManager::Functions::Fire::setSoundFromFile(Entry& fire, const String& path)
{
    fire.soundType = 0;
    if (fire.soundRef)
        Audio::AudioFile::unloadByRef(*fire.soundRef);
    fire.soundRef.reset();
    fire.sound.close();
    if (path.length() == 0 || !readWholeFile(path, fire.sound)) {
        fire.sound.close();
        return;
    }
    const wchar_t* extension = path.getExtension();
    fire.soundType = _wcsicmp(extension, L"wav") == 0   ? Audio::FileRef::typeWav
                     : _wcsicmp(extension, L"ogg") == 0 ? Audio::FileRef::typeOgg
                                                        : 0;
    if (fire.soundType != 0 && fire.sound.size() > 0)
        fire.soundRef.reset(new (std::nothrow) Audio::FileRef(&fire.sound, fire.soundType, path.getFileName(), 0));
}

void ObjPkgManager::Functions::Fire::selectFire(int32_t i)
{
    if (fires.empty()) {
        selected = 0;
        return;
    }
    selected = std::clamp(i, 0, int32_t(fires.size()) - 1);
    const Look& look = fires[size_t(selected)]->look;
    for (int32_t k = 0; k < 6; ++k) {
        sliderValues.*fireSliders[k].field = look.*fireSliders[k].field;
        if (sliders[k].trackbar)
            sliders[k].setPosition();
    }
}

void ObjPkgManager::Functions::Fire::refreshControls()
{
    if (!window || fires.empty())
        return;
    const Entry& fire = *fires[size_t(selected)];
    CheckRadioButton(window, fireNoSound, fireOwnSound, fire.soundType != 0 ? fireOwnSound : fireNoSound);
    wchar_t text[16];
    std::swprintf(text, 16, L"%i", int32_t(fires.size()));
    SetDlgItemTextW(window, fireCount, text);
    CheckDlgButton(window, fireBurning, fire.burningAtStart ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(window, fireDelete), fires.size() > 1);
}

INT_PTR ObjPkgManager::Functions::Fire::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        editFlag = 1;
        const int32_t play = firePlay;
        DialogTools::setPlayButtons(dialog, font.create(dialog, L"Arial", 15, FW_BOLD), &play, 1);
        for (int32_t k = 0; k < 6; ++k) {
            const FireSlider& s = fireSliders[k];
            sliders[k] = DialogTools::Slider(&(sliderValues.*s.field), s.label, 2, true, s.trackbar, s.steps, 0.0f, s.max);
        }
        selectFire(0);
        for (DialogTools::Slider& slider : sliders)
            slider.init(dialog);
        refreshControls();
        return TRUE;
    }
    if (message == WM_DESTROY) {
        editFlag = 0;
        font.release();
        // No control of this window is touched again.
        for (DialogTools::Slider& slider : sliders)
            slider = DialogTools::Slider();
        return FALSE;
    }
    INT_PTR handled = FALSE;
    Entry* fire = fires.empty() ? nullptr : fires[size_t(std::clamp(selected, 0, int32_t(fires.size()) - 1))].get();
    if (message == WM_COMMAND) {
        const int32_t id = LOWORD(wParam);
        handled = TRUE;
        if (id == IDOK || id == IDCANCEL) {
            close(id);
            return TRUE;
        } else if ((id == 1249 || id == 1250) && fire) {
            const float* preset = firePresets[id - 1249];
            for (int32_t k = 0; k < 6; ++k) {
                fire->look.*fireSliders[k].field = preset[k];
                sliderValues.*fireSliders[k].field = preset[k];
                sliders[k].setPosition();
            }
            MessageBeep(MB_ICONASTERISK);
        } else if (id == fireBurning && fire) {
            fire->burningAtStart = DialogTools::isChecked(dialog, fireBurning) ? 1 : 0;
        } else if (id == fireNoSound && fire) {
            setSoundFromFile(*fire, String());
        } else if ((id == fireOwnSound || id == fireChoose) && fire) {
            String path;
            if (DialogTools::openFileDialog(path, 7, dialog))
                setSoundFromFile(*fire, path);
            refreshControls();
        } else if (id == firePlay && fire) {
            playOnce(fire->soundRef.get(), 1, 1, 1);
        } else if (id == fireAdd) {
            if (int32_t(fires.size()) < maxFires) {
                auto added = std::unique_ptr<Entry>(new (std::nothrow) Entry(this));
                if (added) {
                    fires.push_back(std::move(added));
                    selectFire(int32_t(fires.size()) - 1);
                }
            }
            refreshControls();
        } else if (id == fireDelete) {
            if (fires.size() > 1) {
                fires.erase(fires.begin() + selected);
                // The next fire takes the place, else the one before.
                selectFire(selected < int32_t(fires.size()) ? selected : selected - 1);
            }
            refreshControls();
        } else if (id == fireNext) {
            selectFire(selected + 1 < int32_t(fires.size()) ? selected + 1 : 0);
            refreshControls();
        } else {
            handled = FALSE;
        }
    }
    // Every message goes past the sliders; a moved one sets the selected fire.
    fire = fires.empty() ? nullptr : fires[size_t(selected)].get();
    for (int32_t k = 0; k < 6; ++k)
        if (sliders[k].trackbar && sliders[k].process(message, wParam, lParam) && fire) {
            fire->look.*fireSliders[k].field = sliderValues.*fireSliders[k].field;
            handled = TRUE;
        }
    return handled;
}

// ---------------------------------------------------------------- Rocket

namespace {

constexpr int32_t rocketImageButtons[3] = {1236, 1011, 1012};
constexpr int32_t rocketPreviews[3] = {1239, 1240, 1241};
constexpr const wchar_t* rocketPreviewNames[3] = {L"RocketPreviewA", L"RocketPreviewB", L"RocketPreviewC"};
constexpr int32_t rocketPlay[4] = {1233, 1257, 1259, 1261};
constexpr int32_t rocketChoose[4] = {1234, 1258, 1260, 1262};
constexpr int32_t rocketPreviewSize = 40;

} // namespace

INT_PTR ObjPkgManager::Functions::Rocket::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        DialogTools::setPlayButtons(dialog, font.create(dialog, L"Arial", 15, FW_BOLD), rocketPlay, 4);
        for (int32_t i = 0; i < 3; ++i)
            showPreview(dialog, rocketPreviews[i], previews[i], images[i], rocketPreviewNames[i], rocketPreviewSize);
        return TRUE;
    }
    if (message == WM_DESTROY) {
        font.release();
        for (DialogTools::Bitmap& preview : previews)
            preview.release();
        return FALSE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    const int32_t id = LOWORD(wParam);
    if (id == IDOK || id == IDCANCEL) {
        close(id);
        return TRUE;
    }
    for (int32_t i = 0; i < 3; ++i)
        if (id == rocketImageButtons[i]) {
            String path = imageNames[i];
            if (DialogTools::openFileDialog(path, 2, dialog)) {
                imageNames[i] = path;
                if (!readWholeFile(path, images[i]))
                    images[i].close();
                showPreview(dialog, rocketPreviews[i], previews[i], images[i], rocketPreviewNames[i],
                            rocketPreviewSize);
            }
            return TRUE;
        }
    for (int32_t i = 0; i < soundCount; ++i) {
        if (id == rocketPlay[i]) {
            playOnce(soundRefs[i].get(), 3, 3, 3);
            return TRUE;
        }
        if (id == rocketChoose[i]) {
            String path;
            if (!DialogTools::openFileDialog(path, 7, dialog))
                return TRUE;
            if (soundRefs[i])
                Audio::AudioFile::unloadByRef(*soundRefs[i]);
            soundRefs[i].reset();
            if (!readWholeFile(path, sounds[i]))
                sounds[i].close();
            const uint32_t type = soundTypeOf(sounds[i]);
            if (sounds[i].size() > 0 && type != Audio::FileRef::typeNone) {
                String name;
                name.makeRandom(10);
                soundRefs[i].reset(new (std::nothrow) Audio::FileRef(&sounds[i], type, name, 0));
            }
            return TRUE;
        }
    }
    return FALSE;
}

// ---------------------------------------------------------------- Bush

namespace {

constexpr int32_t bushPreview = 1033, bushChooseLeaves = 1034, bushPlay = 1035, bushChooseSound = 1036;
constexpr int32_t bushPreviewSize = 40;

} // namespace

INT_PTR ObjPkgManager::Functions::Bush::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        DialogTools::setPlayButtons(dialog, font.create(dialog, L"Arial", 15, FW_BOLD), &bushPlay, 1);
        SetWindowPos(GetDlgItem(dialog, bushPreview), nullptr, 0, 0, bushPreviewSize, bushPreviewSize,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        showPreview(dialog, bushPreview, preview, leafImage, L"TexLeafPreviewA", bushPreviewSize);
        return TRUE;
    }
    if (message == WM_DESTROY) {
        font.release();
        preview.release();
        return FALSE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    const int32_t id = LOWORD(wParam);
    if (id == IDOK || id == IDCANCEL) {
        close(id);
        return TRUE;
    }
    if (id == bushPlay) {
        playOnce(soundRef.get(), 1, 1, 1);
        return TRUE;
    }
    if (id == bushChooseSound) {
        chooseSound(dialog, sound, soundRef);
        return TRUE;
    }
    if (id == bushChooseLeaves) {
        String path = leafPath;
        if (!DialogTools::openFileDialog(path, 2, dialog))
            return TRUE;
        // A file that cannot be opened changes nothing.
        FileInterface* file = openFile(path, 0, 1, 1);
        if (!file)
            return TRUE;
        const bool read = file->isOpen && leafImage.loadFrom(*file);
        file->close();
        if (read) {
            leafPath = path;
            showPreview(dialog, bushPreview, preview, leafImage, L"TexLeafPreviewA", bushPreviewSize);
        }
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- LensFlare

namespace {

constexpr int32_t flareCone = 1237, flareConeLabel = 1238, flareColour = 1213, flareAdd = 1259, flareDelete = 1263,
                  flareNext = 1264, flareCount = 1266;

} // namespace

void ObjPkgManager::Functions::LensFlare::selectFlare(int32_t i)
{
    if (flares.empty()) {
        selected = -1;
        return;
    }
    selected = std::clamp(i, 0, int32_t(flares.size()) - 1);
    sliderValue = flares[size_t(selected)]->coneAngle;
    if (coneSlider.trackbar)
        coneSlider.setPosition();
}

void ObjPkgManager::Functions::LensFlare::refreshControls()
{
    if (!window)
        return;
    wchar_t text[16];
    std::swprintf(text, 16, L"%i", int32_t(flares.size()));
    SetDlgItemTextW(window, flareCount, text);
    EnableWindow(GetDlgItem(window, flareDelete), flares.size() > 1);
    InvalidateRect(GetDlgItem(window, flareColour), nullptr, TRUE);
}

INT_PTR ObjPkgManager::Functions::LensFlare::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam,
                                                                 LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        coneSlider = DialogTools::Slider(&sliderValue, flareConeLabel, 1, true, flareCone, 100, 5.0f, 90.0f);
        selectFlare(0);
        coneSlider.init(dialog);
        refreshControls();
        return TRUE;
    }
    if (message == WM_DESTROY) {
        // No control of this window is touched again.
        coneSlider = DialogTools::Slider();
        return FALSE;
    }
    INT_PTR handled = FALSE;
    if (message == WM_DRAWITEM && int32_t(wParam) == flareColour) {
        const Flare* flare = selectedFlare();
        DialogTools::drawColorSwatch(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), flare ? &flare->colour : nullptr);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        const int32_t id = LOWORD(wParam);
        handled = TRUE;
        if (id == IDCANCEL || id == IDCLOSE) {
            close(id);
            return TRUE;
        } else if (id == flareColour) {
            if (Flare* flare = selectedFlare())
                DialogTools::chooseColor(GetDlgItem(dialog, flareColour), flare->colour, nullptr, 0);
        } else if (id == flareAdd) {
            if (flares.size() < maxFlares) {
                if (auto added = std::unique_ptr<Flare>(new (std::nothrow) Flare(this))) {
                    flares.push_back(std::move(added));
                    selectFlare(int32_t(flares.size()) - 1);
                }
            }
            refreshControls();
        } else if (id == flareDelete) {
            if (flares.size() > 1 && selectedFlare()) {
                flares.erase(flares.begin() + selected);
                picked = -1;
                // The next flare takes the place, else the one before.
                selectFlare(selected < int32_t(flares.size()) ? selected : selected - 1);
            }
            refreshControls();
        } else if (id == flareNext) {
            if (!flares.empty())
                picked = selected + 1 < int32_t(flares.size()) ? selected + 1 : 0;
            markModified();
        } else {
            handled = FALSE;
        }
    }
    // Every message goes past the slider; a moved one sets the selected flare.
    if (coneSlider.trackbar && coneSlider.process(message, wParam, lParam)) {
        if (Flare* flare = selectedFlare())
            flare->coneAngle = sliderValue;
        handled = TRUE;
    }
    return handled;
}

// ---------------------------------------------------------------- Spin

namespace {

// Trackbar, label, steps and range of each parameter, in parameter order.
struct SpinSlider
{
    int32_t trackbar, label, steps;
    float max;
};
constexpr SpinSlider spinSliders[ObjPkgManager::Functions::Spin::parameterCount] = {
    {1202, 1205, 500, 10.0f}, {1203, 1207, 100, 10.0f}, {1208, 1213, 500, 10.0f},
    {1209, 1212, 100, 10.0f}, {1214, 1219, 500, 10.0f}, {1215, 1218, 100, 10.0f},
    {1220, 1222, 100, 100.0f}, {1223, 1225, 100, 100.0f}, {1226, 1228, 100, 100.0f},
};

} // namespace

INT_PTR ObjPkgManager::Functions::Spin::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        for (int32_t k = 0; k < parameterCount; ++k) {
            const SpinSlider& s = spinSliders[k];
            sliders[k] = DialogTools::Slider(&parameters[k], s.label, 2, true, s.trackbar, s.steps, 0.0f, s.max);
            sliders[k].init(dialog);
        }
        return TRUE;
    }
    if (message == WM_DESTROY) {
        for (DialogTools::Slider& slider : sliders)
            slider = DialogTools::Slider();
        return FALSE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        close(LOWORD(wParam));
        return TRUE;
    }
    // A moved slider has written its parameter and its label.
    INT_PTR handled = FALSE;
    for (DialogTools::Slider& slider : sliders)
        if (slider.trackbar && slider.process(message, wParam, lParam))
            handled = TRUE;
    return handled;
}

// ---------------------------------------------------------------- Inventory

namespace {

constexpr int32_t inventoryPlay = 1229, inventoryChoose = 1230;

} // namespace

INT_PTR ObjPkgManager::Functions::Inventory::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        DialogTools::setPlayButtons(dialog, font.create(dialog, L"Arial", 15, FW_BOLD), &inventoryPlay, 1);
        return TRUE;
    }
    if (message == WM_DESTROY) {
        font.release();
        return FALSE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    const int32_t id = LOWORD(wParam);
    if (id == IDOK || id == IDCANCEL) {
        close(id);
        return TRUE;
    }
    if (id == inventoryPlay) {
        playOnce(soundRef.get(), 1, 1, 1);
        return TRUE;
    }
    if (id == inventoryChoose) {
        chooseSound(dialog, sound, soundRef);
        return TRUE;
    }
    return FALSE;
}
