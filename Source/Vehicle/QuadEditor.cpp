// The quad template's editing page: the part role of each of the package's
// meshes, the nine sounds, the two wheel textures and six sliders.
// Main thread only.
#include "Vehicle/QuadPhysics.h"

#include "Objects/EditorPages.h"
#include "Objects/PackageMesh.h"

#include "Audio/AudioFile.h"

#include <cstring>
#include <cwchar>
#include <new>

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;

namespace {

constexpr int32_t soundChoose[QuadPhysics::soundCount] = {1069, 1070, 1071, 1072, 1073, 1080, 1082, 1084, 1086};
constexpr int32_t soundPlay[QuadPhysics::soundCount] = {1074, 1075, 1076, 1077, 1078, 1079, 1081, 1083, 1085};
constexpr int32_t textureChoose[2] = {1243, 1247};
constexpr int32_t texturePreview[2] = {1244, 1248};
constexpr int32_t previewSize = 40;

// Select button and label of role 1 to 17.
int32_t roleButton(int32_t role)
{
    constexpr int32_t last[3] = {1246, 1250, 1252};
    return role <= 14 ? 1214 + 2 * role : last[role - 15];
}

int32_t roleLabel(int32_t role)
{
    return roleButton(role) - 1;
}

} // namespace

void QuadPhysics::bindSliders()
{
    struct Binding
    {
        float QuadPhysics::*field;
        int32_t trackbar, precision, label, steps;
        float max;
    };
    // Rear spring, rear damper, parameter 3, front spring, front damper,
    // parameter 6.
    static constexpr Binding bindings[sliderCount] = {
        {&QuadPhysics::rearSpring, 1034, 2, 1028, 100, 200.0f},  {&QuadPhysics::rearDamper, 1035, 2, 1029, 100, 10.0f},
        {&QuadPhysics::parameter3, 1038, 3, 1032, 333, 1.0f},    {&QuadPhysics::frontSpring, 1036, 2, 1030, 100, 200.0f},
        {&QuadPhysics::frontDamper, 1037, 2, 1031, 100, 10.0f},  {&QuadPhysics::parameter6, 1039, 3, 1033, 333, 1.0f},
    };
    for (int32_t i = 0; i < sliderCount; ++i) {
        const Binding& b = bindings[i];
        sliders[i] = DialogTools::Slider(&(this->*b.field), b.label, b.precision, true, b.trackbar, b.steps, 0.0f, b.max);
    }
}

void QuadPhysics::showRole(int32_t role) const
{
    if (!window || role < 1 || role > roleCount)
        return;
    Mesh* found = roleMeshes[role - 1];
    if (!found || !found->getName()) {
        SetDlgItemTextW(window, roleLabel(role), L"Keine Auswahl");
        return;
    }
    SetDlgItemTextW(window, roleLabel(role), found->getName()->getFileName().text());
}

void QuadPhysics::chooseSound(int32_t slot)
{
    String path = soundPaths[slot];
    if (!DialogTools::openFileDialog(path, 7, window))
        return;
    soundPaths[slot] = path;
    releaseSound(slot);
    FileArray& bytes = soundStreams[slot];
    // A file that cannot be read leaves the slot empty.
    if (!EditorPages::readWholeFile(path, bytes) || bytes.size() == 0) {
        bytes.close();
        return;
    }
    sounds[slot] = new (std::nothrow) Audio::FileRef(&bytes, soundType(bytes), path.getFileName(), 0);
}

void QuadPhysics::chooseTexture(int32_t i)
{
    String& path = i == 0 ? dustTexturePath : dirtTexturePath;
    FileArray& bytes = i == 0 ? dustStream : dirtStream;
    String chosen = path;
    if (!DialogTools::openFileDialog(chosen, 2, window))
        return;
    path = chosen;
    if (!EditorPages::readWholeFile(chosen, bytes))
        bytes.close();
    EditorPages::showPreview(window, texturePreview[i], previews[i], bytes, L"WheelDirtPreviewA", previewSize);
}

INT_PTR QuadPhysics::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        HFONT bold = font.create(dialog, L"Arial", 15, FW_BOLD);
        for (DialogTools::Slider& slider : sliders)
            slider.init(dialog);
        DialogTools::setPlayButtons(dialog, bold, soundPlay, soundCount);
        for (int32_t role = 1; role <= roleCount; ++role)
            showRole(role);
        for (int32_t i = 0; i < 2; ++i) {
            SetWindowPos(GetDlgItem(dialog, texturePreview[i]), nullptr, 0, 0, previewSize, previewSize,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            EditorPages::showPreview(dialog, texturePreview[i], previews[i], i == 0 ? dustStream : dirtStream,
                                     L"WheelDirtPreviewA", previewSize);
        }
        return TRUE;
    }
    if (message == WM_DESTROY) {
        font.release();
        for (DialogTools::Bitmap& preview : previews)
            preview.release();
        // No control of this window is touched again; the bindings stay.
        for (DialogTools::Slider& slider : sliders)
            slider.trackbar = slider.label = nullptr;
        return FALSE;
    }
    INT_PTR handled = FALSE;
    if (message == WM_COMMAND) {
        const int32_t id = LOWORD(wParam);
        if (id == IDCANCEL || id == IDCLOSE) {
            close(id);
            return TRUE;
        }
        for (int32_t slot = 0; slot < soundCount; ++slot) {
            if (id == soundChoose[slot]) {
                chooseSound(slot);
                return TRUE;
            }
            if (id == soundPlay[slot]) {
                EditorPages::playOnce(sounds[slot], 1, 1, 1);
                return TRUE;
            }
        }
        for (int32_t role = 1; role <= roleCount; ++role)
            if (id == roleButton(role)) {
                // The level editor's pick in the scene fills the role.
                SetDlgItemTextW(dialog, roleLabel(role), L"Bitte w\u00e4hlen...");
                pendingRole = role;
                return TRUE;
            }
        for (int32_t i = 0; i < 2; ++i)
            if (id == textureChoose[i]) {
                chooseTexture(i);
                return TRUE;
            }
    }
    // A moved slider has written its parameter and its label.
    for (DialogTools::Slider& slider : sliders)
        if (slider.trackbar && slider.process(message, wParam, lParam))
            handled = TRUE;
    return handled;
}
