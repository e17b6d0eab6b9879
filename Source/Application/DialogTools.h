#pragma once
// The small Win32 toolkit of the object functions' editing pages: value
// sliders bound to float, integer and vector fields, a colour chooser with
// its owner-drawn swatch, the open-file dialog with the program's filters,
// a GDI bitmap that textures are copied into, and a hyperlink. The pages
// themselves derive from Template (Objects/Template.h). Main thread only.

#include "Objects/Template.h"
#include "Render/TextureBitmap.h"

#include "Core/Color.h"
#include "Core/String.h"

#include <windows.h>

#include <commdlg.h>

#include <cstdint>

namespace DialogTools
{

// Whether check box or radio button id of dialog is checked.
bool isChecked(HWND dialog, int32_t id);

// The file and colour dialogs go through these, so that tests can answer
// them; by default GetOpenFileNameW and ChooseColorW.
using OpenFileFunction = BOOL(WINAPI*)(OPENFILENAMEW*);
using ChooseColorFunction = BOOL(WINAPI*)(CHOOSECOLORW*);
extern OpenFileFunction openFileFunction;
extern ChooseColorFunction chooseColorFunction;

constexpr int32_t maxCustomColours = 16;
// Opens the colour dialog on colour, its custom colours taken from the first
// (at most 16) of count palette colours. On OK colour takes the chosen red,
// green and blue, alpha 255, and owner is repainted: true. Cancelled: false,
// colour as it was.
bool chooseColor(HWND owner, Color& colour, const Color* palette, int32_t count);

// Paints an owner-drawn button as a swatch of colour (none: only its edges):
// the inside filled, one-pixel edges raised, or sunk while pressed.
void drawColorSwatch(const DRAWITEMSTRUCT& item, const Color* colour);

constexpr int32_t fileFilterKinds = 13;
// The filter list of kind 0 to 12 as GetOpenFileNameW takes it (pairs of
// description and patterns, ended by an empty text); null for kind 0 and
// kinds out of range.
const wchar_t* fileFilter(int32_t kind);
// Opens the file dialog on path (at most 259 characters of it) with filter
// kind. On OK the chosen file replaces path: true; cancelled: path stays.
bool openFileDialog(String& path, int32_t kind, HWND owner = nullptr);

// Sets the text of control only when it shows other text (under Wine a
// label repaints itself at once when its text is set): true when it did.
bool setText(HWND control, const wchar_t* text);

// The text of control id, at most 100 characters, read as a decimal integer
// (text that is no number gives 0).
int32_t readInteger(HWND dialog, int32_t id);

// A float field bound to a trackbar of `steps` positions over min..max and
// a text control showing the value with 0 to 3 decimals.
class Slider
{
public:
    Slider() = default;
    Slider(float* value, int32_t labelId, int32_t precision, bool liveUpdate, int32_t trackbarId, int32_t steps,
           float min, float max);

    // Binds the slider to dialog: range, page size, position and label.
    void init(HWND dialog);
    // Moves the thumb to the bound value; current is the value the thumb
    // stands for. True when the thumb or the label changed. Without redraw
    // a moved thumb is left for the caller to repaint.
    bool setPosition(bool redraw = true);
    // 1 when a WM_NOTIFY of the trackbar changed current, 2 when the thumb
    // was let go (TB_ENDTRACK), else 0; kept in lastResult.
    int32_t onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // onMessage, writing current into the bound value on a change. 1 when
    // the page should apply the value: on every change with live update,
    // else when the thumb is let go.
    int32_t process(UINT message, WPARAM wParam, LPARAM lParam);
    // True when the label showed other text.
    bool updateLabel() const;

    float* value = nullptr;
    int32_t labelId = 0;
    int32_t precision = 0;
    uint32_t liveUpdate = 0;
    HWND dialog = nullptr;
    int32_t lastResult = 0;
    int32_t trackbarId = 0;
    int32_t steps = 1;
    float min = 0.0f;
    float max = 1.0f;
    float current = 0.0f;
    // The trackbar and the label, found once at init: finding a control
    // costs more under Wine than everything else a message does.
    HWND trackbar = nullptr;
    HWND label = nullptr;
};

// An integer field on a trackbar. With powerOfTwo the thumb moves through
// the powers of two from 2^0 times ceil(min) up: position p stores
// ceil(min) << (p - ceil(min)).
class IntSlider
{
public:
    IntSlider() = default;
    IntSlider(int32_t* value, int32_t labelId, bool powerOfTwo, bool liveUpdate, int32_t trackbarId, int32_t steps,
              float min, float max);

    void init(HWND dialog);
    bool setPosition(bool redraw = true);
    int32_t onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    int32_t process(UINT message, WPARAM wParam, LPARAM lParam);
    bool updateLabel() const;
    // The integer the thumb's current value stands for.
    int32_t stored() const;

    int32_t* value = nullptr;
    int32_t labelId = 0;
    uint32_t powerOfTwo = 0;
    uint32_t liveUpdate = 0;
    HWND dialog = nullptr;
    int32_t lastResult = 0;
    int32_t trackbarId = 0;
    int32_t steps = 1;
    float min = 0.0f;
    float max = 1.0f;
    float current = 0.0f;
    HWND trackbar = nullptr;
    HWND label = nullptr;
};

// Two or three components of one vector, each on its own trackbar, with one
// joint label ("%.0f | %.0f | %.0f" with the precision's decimals).
template <int N>
class VectorSlider
{
public:
    struct Component
    {
        HWND dialog = nullptr;
        int32_t trackbarId = 0;
        int32_t steps = 1;
        float min = 0.0f;
        float max = 1.0f;
        float current = 0.0f;
        HWND trackbar = nullptr;
    };

    VectorSlider() = default;
    // components: the bound vector's N floats.
    VectorSlider(float* components, int32_t labelId, int32_t precision, bool liveUpdate, const int32_t (&trackbarIds)[N],
                 int32_t steps, float min, float max);

    void init(HWND dialog);
    bool setPosition(bool redraw = true);
    int32_t onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    int32_t process(UINT message, WPARAM wParam, LPARAM lParam);
    bool updateLabel() const;

    float* value = nullptr;
    int32_t labelId = 0;
    int32_t precision = 0;
    uint32_t liveUpdate = 0;
    int32_t lastResult = 0;
    Component component[N];
    HWND label = nullptr;
};
using Vector2Slider = VectorSlider<2>;
using Vector3Slider = VectorSlider<3>;

// A window's bitmap that pictures are painted into: 32-bit pixels, top row
// first, whatever the desktop's depth (SetDIBits converts).
// StructTexture::copyToBitmap fills it.
class Bitmap : public StructTexture
{
public:
    Bitmap() = default;
    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    // A new bitmap for window, the old one gone: of the window's client size
    // with clientSize, else width x height; of depth bits per pixel (0: the
    // window's screen depth). False when it cannot be made.
    bool create(HWND window, bool clientSize, int32_t width = 0, int32_t height = 0, int32_t depth = 0);
    // The pixels into the bitmap, the bitmap onto the window at (x, y).
    void draw(int32_t x, int32_t y);
    // The pixels into the bitmap only.
    void update();
    void release();

    Color* pixel(int32_t x, int32_t y) const { return pixels32.pixels + size_t(y) * pixels32.width + x; }
    int32_t width() const { return pixels32.width; }
    int32_t height() const { return pixels32.height; }
};

// A link that opens its target with the shell. The link windows find their
// object through a window property named by the atom the start-up makes.
class HyperLink
{
public:
    virtual ~HyperLink() { target = nullptr; }
    // Opens the target ("open", shown normally); false without one or when
    // the shell refuses.
    virtual bool open();

    const wchar_t* target = nullptr;

    static constexpr const wchar_t* atomName =
        L"_Hyperlink_Object_Pointer_{C1F1C21B-7C64-47F6-AEB2-89DDBCB81242}";
    // Made at start, deleted at exit.
    static void addAtom();
    static void deleteAtom();
    static ATOM atom;
};

extern HyperLink gHyperLink;

// A page's font: made at WM_INITDIALOG, deleted when the page closes or is
// made again.
class PageFont
{
public:
    PageFont() = default;
    ~PageFont() { release(); }
    PageFont(const PageFont&) = delete;
    PageFont& operator=(const PageFont&) = delete;

    // Face at `points` on the dialog's screen, weight 400 or 700.
    HFONT create(HWND dialog, const wchar_t* face, int32_t points, int32_t weight);
    void release();

    HFONT font = nullptr;
};

// "►" in font on each of the buttons of dialog.
void setPlayButtons(HWND dialog, HFONT font, const int32_t* ids, int32_t count);

} // namespace DialogTools
