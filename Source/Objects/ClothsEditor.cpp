// The cloth's editing page, on the dialog template the content builder
// writes (DialogPages::cloths). Main thread only; the worker keeps stepping
// the edited cloth while the page is open. A grid, plane, pin or image
// change rebuilds the edited cloth, which holds the worker until the next
// camera step; the wind, damping and gravity sliders change the template's
// values the worker reads, through atomic stores.
#include "Objects/Cloths.h"

#include "Objects/EditorPages.h"

#include "Core/FileInterface.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cwchar>

namespace {

using Cloths = ObjPkgManager::Functions::Cloths;

constexpr int32_t planeButtons[3] = {1013, 1014, 1018};
constexpr int32_t planeValues[3] = {Cloths::planeX, Cloths::planeHorizontal, Cloths::planeVertical};
constexpr int32_t windFromMotionBox = 1029, pinLineBox = 1023, textureButton = 1010, previewControl = 1047;
constexpr int32_t previewSize = 64;

// The grid sliders: trackbar, label.
constexpr int32_t gridControls[2][2] = {{1024, 1025}, {1028, 1026}};
constexpr int32_t gridSteps = 38;

// The float sliders, in the page's order.
struct FloatSlider
{
    int32_t trackbar, label, precision, steps;
    float min, max;
    float Cloths::*field;
};
constexpr int32_t specularSlider = 3;
constexpr FloatSlider floatSliders[5] = {
    {1208, 1210, 2, 100, 0.0f, 1.0f, &Cloths::windStrength},
    {1211, 1213, 1, 100, 0.0f, 360.0f, &Cloths::windAngle},
    {1214, 1216, 2, 100, 0.1f, 1.0f, &Cloths::damping},
    {1027, 1033, 1, 200, 0.0f, 70.0f, &Cloths::specularPower},
    {1215, 1218, 2, 100, 0.0f, 10.0f, &Cloths::gravity},
};

// The pins' edit fields: column, row of A, B, C and D.
constexpr int32_t pinFields[4][2] = {{1019, 1020}, {1021, 1022}, {1030, 1031}, {1032, 1034}};

// The material's colour buttons: diffuse, ambient, emissive, specular.
constexpr int32_t swatchButtons[4] = {1015, 1052, 1017, 1016};
constexpr D3DCOLORVALUE D3DMATERIAL9::*materialColours[4] = {&D3DMATERIAL9::Diffuse, &D3DMATERIAL9::Ambient,
                                                             &D3DMATERIAL9::Emissive, &D3DMATERIAL9::Specular};

Cloths::GridPoint Cloths::*pinOf(int32_t k)
{
    constexpr Cloths::GridPoint Cloths::*pins[4] = {&Cloths::pinA, &Cloths::pinB, &Cloths::pinC, &Cloths::pinD};
    return pins[k];
}

uint8_t toByte(float component)
{
    // A stored material may hold any finite value.
    if (!(component > 0.0f))
        return 0;
    return uint8_t(std::lround(std::min(component, 1.0f) * 255.0f));
}

void setInteger(HWND dialog, int32_t id, int32_t value)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"%i", value);
    SetDlgItemTextW(dialog, id, text);
}

} // namespace

void ObjPkgManager::Functions::Cloths::swatchesFromMaterial()
{
    for (int32_t k = 0; k < 4; ++k) {
        const D3DCOLORVALUE& c = material.*materialColours[k];
        swatches[k] = Color(toByte(c.r), toByte(c.g), toByte(c.b), toByte(c.a));
    }
}

INT_PTR ObjPkgManager::Functions::Cloths::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        specularPower = material.Power;
        for (int32_t k = 0; k < 2; ++k) {
            gridSliders[k] = DialogTools::IntSlider(k == 0 ? &columns : &rows, gridControls[k][1], false, false,
                                                    gridControls[k][0], gridSteps, float(minGrid), float(maxGrid));
            gridSliders[k].init(dialog);
        }
        for (int32_t k = 0; k < 5; ++k) {
            const FloatSlider& s = floatSliders[k];
            sliderValues[k] = this->*s.field;
            sliders[k] = DialogTools::Slider(&sliderValues[k], s.label, s.precision, true, s.trackbar, s.steps, s.min,
                                             s.max);
            sliders[k].init(dialog);
        }
        const int32_t shownPlane = plane == planeX ? 0 : plane == planeHorizontal ? 1 : 2;
        CheckRadioButton(dialog, planeButtons[0], planeButtons[2], planeButtons[shownPlane]);
        CheckDlgButton(dialog, windFromMotionBox, windFromMotion ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, pinLineBox, pinLine ? BST_CHECKED : BST_UNCHECKED);
        // Filling the fields notifies their changes: those rebuild nothing.
        filling = 1;
        for (int32_t k = 0; k < 4; ++k) {
            const GridPoint& pin = this->*pinOf(k);
            setInteger(dialog, pinFields[k][0], pin.column);
            setInteger(dialog, pinFields[k][1], pin.row);
        }
        filling = 0;
        swatchesFromMaterial();
        SetWindowPos(GetDlgItem(dialog, previewControl), nullptr, 0, 0, previewSize, previewSize,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        EditorPages::showPreview(dialog, previewControl, preview, image, L"Preview", previewSize);
        return TRUE;
    }
    if (message == WM_DESTROY) {
        preview.release();
        // No control of this window is touched again.
        for (DialogTools::IntSlider& slider : gridSliders)
            slider = DialogTools::IntSlider();
        for (DialogTools::Slider& slider : sliders)
            slider = DialogTools::Slider();
        return FALSE;
    }
    if (message == WM_DRAWITEM) {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        for (int32_t k = 0; k < 4; ++k)
            if (int32_t(item.CtlID) == swatchButtons[k]) {
                DialogTools::drawColorSwatch(item, &swatches[k]);
                return TRUE;
            }
        return FALSE;
    }

    INT_PTR handled = FALSE;
    if (message == WM_COMMAND) {
        const int32_t id = LOWORD(wParam);
        if (id == IDOK || id == IDCANCEL) {
            close(id);
            return TRUE;
        }
        handled = TRUE;
        const int32_t* planeButton = std::find(std::begin(planeButtons), std::end(planeButtons), id);
        if (planeButton != std::end(planeButtons)) {
            const int32_t chosen = planeValues[planeButton - planeButtons];
            if (plane != chosen) {
                plane = chosen;
                rebuildEdited();
            }
        } else if (id == windFromMotionBox) {
            // Taken at the next build.
            windFromMotion = DialogTools::isChecked(dialog, windFromMotionBox) ? 1 : 0;
        } else if (id == pinLineBox) {
            pinLine = DialogTools::isChecked(dialog, pinLineBox) ? 1 : 0;
            rebuildEdited();
        } else if (id == textureButton) {
            String path = textureName;
            if (DialogTools::openFileDialog(path, 2, dialog)) {
                // A file that cannot be read changes nothing.
                FileArray bytes(4096);
                if (EditorPages::readWholeFile(path, bytes)) {
                    image.close();
                    image.write(bytes.memory(), bytes.size());
                    textureName = path;
                    EditorPages::showPreview(dialog, previewControl, preview, image, L"Preview", previewSize);
                    rebuildEdited();
                }
            }
        } else {
            handled = FALSE;
            for (int32_t k = 0; k < 4; ++k) {
                if (id == swatchButtons[k]) {
                    // The other material colours are at hand as custom colours.
                    for (int32_t i = 0; i < 4; ++i)
                        *customColours.at(i) = swatches[i];
                    Color chosen = swatches[k];
                    if (DialogTools::chooseColor(GetDlgItem(dialog, id), chosen, customColours.data(), 4)) {
                        D3DCOLORVALUE& colour = material.*materialColours[k];
                        colour.r = float(chosen.r) / 255.0f;
                        colour.g = float(chosen.g) / 255.0f;
                        colour.b = float(chosen.b) / 255.0f;
                        swatches[k].r = chosen.r;
                        swatches[k].g = chosen.g;
                        swatches[k].b = chosen.b;
                    }
                    return TRUE;
                }
                for (int32_t part = 0; part < 2; ++part)
                    if (id == pinFields[k][part] && HIWORD(wParam) == EN_CHANGE) {
                        if (filling)
                            return TRUE;
                        GridPoint& pin = this->*pinOf(k);
                        (part == 0 ? pin.column : pin.row) = DialogTools::readInteger(dialog, id);
                        rebuildEdited();
                        return TRUE;
                    }
            }
        }
    }

    // Every message goes past the sliders.
    for (int32_t k = 0; k < 2; ++k)
        if (gridSliders[k].trackbar && gridSliders[k].process(message, wParam, lParam)) {
            setGridSize(columns, rows);
            handled = TRUE;
        }
    for (int32_t k = 0; k < 5; ++k)
        if (sliders[k].trackbar && (sliders[k].process(message, wParam, lParam) || sliders[k].lastResult == 2)) {
            // The template's value, which the worker reads, takes the
            // slider's in one store.
            std::atomic_ref<float>(this->*floatSliders[k].field).store(sliderValues[k], std::memory_order_relaxed);
            if (k == specularSlider)
                material.Power = specularPower;
            handled = TRUE;
        }
    return handled;
}
