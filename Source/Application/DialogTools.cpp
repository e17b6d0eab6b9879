// The editing pages' toolkit: the page base's window handling, sliders,
// colour and file choosers, the page bitmap and the hyperlink.
#include "Application/DialogTools.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cwchar>

// ---------------------------------------------------------------- Template

namespace {

// Trackbars are common controls: registered once, before the first page.
void initCommonControls()
{
    static bool done = false;
    if (done)
        return;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_BAR_CLASSES;
    done = InitCommonControlsEx(&controls) != FALSE;
}

} // namespace

Template::~Template()
{
    // The window must not keep a pointer to a template that is gone.
    if (window && IsWindow(window)) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (modeless)
            DestroyWindow(window);
    }
    window = nullptr;
}

INT_PTR Template::create(uint16_t resource, HWND parent, bool isModeless)
{
    if (window && IsWindow(window)) {
        SetForegroundWindow(window);
        BringWindowToTop(window);
        return 0;
    }
    window = nullptr;
    initCommonControls();
    modeless = isModeless ? 1 : 0;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!modeless)
        return DialogBoxParamW(instance, MAKEINTRESOURCEW(resource), parent, dialogProc, LPARAM(this));
    HWND page = CreateDialogParamW(instance, MAKEINTRESOURCEW(resource), parent, dialogProc, LPARAM(this));
    if (page)
        ShowWindow(page, SW_SHOW);
    return 0;
}

void Template::close(INT_PTR result)
{
    if (!window)
        return;
    if (!modeless) {
        EndDialog(window, result);
        return;
    }
    HWND page = window;
    window = nullptr;
    DestroyWindow(page);
}

INT_PTR Template::handleDialogMessage(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

LRESULT Template::defaultHandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(dialog, message, wParam, lParam);
}

INT_PTR CALLBACK Template::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<Template*>(lParam);
        SetWindowLongPtrW(dialog, GWLP_USERDATA, LONG_PTR(page));
        if (page)
            page->window = dialog;
    }
    auto* page = reinterpret_cast<Template*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    if (!page)
        return 0;
    const INT_PTR result = page->handleDialogMessage(dialog, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // However the window went, the template no longer has it.
        SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
        if (page->window == dialog)
            page->window = nullptr;
    }
    return result;
}

namespace DialogTools
{

// ---------------------------------------------------------------- helpers

bool isChecked(HWND dialog, int32_t id)
{
    return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool setText(HWND control, const wchar_t* text)
{
    wchar_t shown[130] = {};
    const int length = GetWindowTextW(control, shown, 130);
    if (length < 129 && std::wcscmp(shown, text) == 0)
        return false;
    SetWindowTextW(control, text);
    return true;
}

int32_t readInteger(HWND dialog, int32_t id)
{
    wchar_t text[101] = {};
    GetDlgItemTextW(dialog, id, text, 101);
    wchar_t* end = nullptr;
    const long long number = std::wcstoll(text, &end, 10);
    return int32_t(std::clamp<long long>(number, INT32_MIN, INT32_MAX));
}

OpenFileFunction openFileFunction = GetOpenFileNameW;
ChooseColorFunction chooseColorFunction = ChooseColorW;

namespace {

COLORREF customColours[maxCustomColours] = {};

} // namespace

bool chooseColor(HWND owner, Color& colour, const Color* palette, int32_t count)
{
    count = palette ? std::clamp(count, 0, maxCustomColours) : 0;
    for (int32_t i = 0; i < count; ++i)
        customColours[i] = RGB(palette[i].r, palette[i].g, palette[i].b);
    CHOOSECOLORW choice{};
    choice.lStructSize = sizeof(choice);
    choice.hwndOwner = owner;
    choice.rgbResult = RGB(colour.r, colour.g, colour.b);
    choice.lpCustColors = customColours;
    choice.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (!chooseColorFunction || !chooseColorFunction(&choice))
        return false;
    colour.r = GetRValue(choice.rgbResult);
    colour.g = GetGValue(choice.rgbResult);
    colour.b = GetBValue(choice.rgbResult);
    colour.a = 255;
    if (owner)
        InvalidateRect(owner, nullptr, TRUE);
    return true;
}

void drawColorSwatch(const DRAWITEMSTRUCT& item, const Color* colour)
{
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    const int32_t w = r.right - r.left, h = r.bottom - r.top;
    if ((item.itemAction & ODA_DRAWENTIRE) && colour) {
        HBRUSH brush = CreateSolidBrush(RGB(colour->r, colour->g, colour->b));
        HGDIOBJ old = SelectObject(dc, brush);
        PatBlt(dc, r.left + 1, r.top + 1, w - 2, h - 2, PATCOPY);
        SelectObject(dc, old);
        DeleteObject(brush);
    }
    if (item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) {
        const bool pressed = (item.itemState & ODS_SELECTED) != 0;
        HGDIOBJ old = SelectObject(dc, GetSysColorBrush(pressed ? COLOR_3DHILIGHT : COLOR_3DSHADOW));
        PatBlt(dc, r.right - 1, r.top, 1, h, PATCOPY);
        PatBlt(dc, r.left, r.bottom - 1, w, 1, PATCOPY);
        SelectObject(dc, GetSysColorBrush(pressed ? COLOR_3DSHADOW : COLOR_3DHILIGHT));
        PatBlt(dc, r.left, r.top, w, 1, PATCOPY);
        PatBlt(dc, r.left, r.top, 1, h, PATCOPY);
        SelectObject(dc, old);
    }
}

namespace {

// Descriptions and patterns, each ended by a zero; an empty text ends a list.
constexpr const wchar_t* filters[fileFilterKinds] = {
    nullptr,
    L"Image files (*.jpg;*.bmp;*.pcx;*.tga;*.dds)\0*.jpg;*.jpeg;*.bmp;*.pcx;*.tga;*.dds\0"
    L"JPEG (*.jpg)\0*.jpg;*.jpeg\0Windows or OS/2 Bitmap (*.bmp)\0*.bmp\0Zsoft Paintbrush (*.pcx)\0*.pcx\0"
    L"Truevision Targa(*.tga)\0*.tga\0DirectDraw surface(*.dds)\0*.dds\0All files (*.*)\0*.*\0",
    L"Image files (*.jpg;*.bmp;*.dds;*.tga;*.png;*.dib;*.hdr)\0*.jpg;*.jpeg;*.bmp;*.dds;*.tga;*.png;*.dib;*.hdr\0"
    L"JPEG (*.jpg)\0*.jpg\0Windows or OS/2 Bitmap (*.bmp)\0*.bmp\0DirectDraw surface (*.dds)\0*.dds\0"
    L"Truevision Targa(*.tga)\0*.tga\0Portable Network Graphics (*.png)\0*.png\0"
    L"Windows device-independent bitmap (*.dib)\0*.dib\0High dynamic range (*.hdr)\0*.hdr\0All files (*.*)\0*.*\0",
    L"*.tem;*.obj;*.mdl;*.md2;*.tree;*.dae\0*.tem;*.obj;*.mdl;*.md2;*.tree;*.dae\0TEM\0*.tem\0OBJ\0*.obj\0"
    L"MDL\0*.mdl\0MD2\0*.md2\0TREE\0*.tree\0DAE\0*.dae\0",
    L"TEM\0*.tem\0",
    L"TreeGenerator (*.tree)\0*.tree\0",
    L"Gras-Generator (*.gras)\0*.gras\0",
    L"Sound files (*.wav;*.ogg)\0*.wav;*.ogg\0Wave (*.wav)\0*.wav\0Ogg (*.ogg)\0*.ogg\0",
    L"Text-Datei (*.txt)\0*.txt\0",
    L"Tessary Engine Environment (*.tee)\0*.tee\0",
    L"Tessary Engine Object (*.teo)\0*.teo\0",
    L"Tessary Engine Menu (*.mnu)\0*.mnu\0",
    L"Tessary Engine Resource (*.res)\0*.res\0",
};

} // namespace

const wchar_t* fileFilter(int32_t kind)
{
    return kind >= 0 && kind < fileFilterKinds ? filters[kind] : nullptr;
}

bool openFileDialog(String& path, int32_t kind, HWND owner)
{
    wchar_t file[MAX_PATH] = {};
    std::wcsncpy(file, path.text(), MAX_PATH - 1);
    OPENFILENAMEW open{};
    open.lStructSize = sizeof(open);
    open.hwndOwner = owner;
    open.lpstrFilter = fileFilter(kind);
    open.lpstrFile = file;
    open.nMaxFile = MAX_PATH;
    open.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!openFileFunction || !openFileFunction(&open))
        return false;
    file[MAX_PATH - 1] = 0;
    path = String(file);
    return true;
}

// ---------------------------------------------------------------- sliders

namespace {

// The thumb's position for value v: truncated, within 0..steps.
int32_t positionOf(float v, float min, float max, int32_t steps)
{
    const float t = (v - min) / (max - min) * float(steps);
    if (!(t > 0.0f))
        return 0;
    return t >= float(steps) ? steps : int32_t(t);
}

float valueAt(int32_t position, float min, float max, int32_t steps)
{
    return float(position) / float(steps) * (max - min) + min;
}

// Moves the thumb only when it stands elsewhere, and sets a label's text
// only when it shows other text: under Wine a repaint costs tens of
// microseconds, reading a position or a text well under one, and a refresh
// of many sliders mostly finds them where they are.
bool placeThumb(HWND trackbar, int32_t position, bool redraw)
{
    if (SendMessageW(trackbar, TBM_GETPOS, 0, 0) == LRESULT(position))
        return false;
    SendMessageW(trackbar, TBM_SETPOS, redraw ? TRUE : FALSE, LPARAM(position));
    return true;
}

void initTrackbar(HWND trackbar, int32_t steps)
{
    SendMessageW(trackbar, TBM_SETRANGE, TRUE, MAKELPARAM(0, steps));
    SendMessageW(trackbar, TBM_SETPAGESIZE, 0, LPARAM(steps / 10));
}

// Whether message is a WM_NOTIFY of control id, or the end of a drag of the
// trackbar (TB_ENDTRACK in WM_HSCROLL or WM_VSCROLL): 1 and 2, else 0.
int32_t trackbarEvent(HWND trackbar, int32_t id, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        return header && int32_t(header->idFrom) == id ? 1 : 0;
    }
    if ((message == WM_HSCROLL || message == WM_VSCROLL) && LOWORD(wParam) == TB_ENDTRACK && lParam &&
        HWND(lParam) == trackbar)
        return 2;
    return 0;
}

int32_t trackbarPosition(HWND trackbar, int32_t steps)
{
    const LRESULT position = SendMessageW(trackbar, TBM_GETPOS, 0, 0);
    return int32_t(std::clamp<LRESULT>(position, 0, steps));
}

// trackbarEvent for one trackbar, moving current to the thumb on a
// notification: 1 when that changed current, 0 when it did not, 2 when the
// thumb was let go.
int32_t followThumb(HWND trackbar, int32_t id, int32_t steps, float min, float max, float& current, UINT message,
                    WPARAM wParam, LPARAM lParam)
{
    const int32_t event = trackbarEvent(trackbar, id, message, wParam, lParam);
    if (event != 1)
        return event;
    const float before = current;
    current = valueAt(trackbarPosition(trackbar, steps), min, max, steps);
    return current != before ? 1 : 0;
}

const wchar_t* floatFormat(int32_t precision)
{
    static constexpr const wchar_t* formats[4] = {L"%.0f", L"%.1f", L"%.2f", L"%.3f"};
    return formats[std::clamp(precision, 0, 3)];
}

// Bits of x read as unsigned, 0 giving 1: 2^k gives k + 1.
int32_t bitLength(int32_t x)
{
    return x == 0 ? 1 : int32_t(std::bit_width(uint32_t(x)));
}

} // namespace

Slider::Slider(float* value, int32_t labelId, int32_t precision, bool liveUpdate, int32_t trackbarId, int32_t steps,
               float min, float max)
    : value(value), labelId(labelId), precision(precision), liveUpdate(liveUpdate ? 1 : 0), trackbarId(trackbarId),
      steps(std::max(steps, 1)), min(min), max(max)
{
}

void Slider::init(HWND page)
{
    dialog = page;
    trackbar = GetDlgItem(dialog, trackbarId);
    label = GetDlgItem(dialog, labelId);
    initTrackbar(trackbar, steps);
    setPosition();
}

bool Slider::setPosition(bool redraw)
{
    const int32_t position = value ? positionOf(*value, min, max, steps) : 0;
    current = valueAt(position, min, max, steps);
    const bool moved = placeThumb(trackbar, position, redraw);
    return updateLabel() || moved;
}

int32_t Slider::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    lastResult = followThumb(trackbar, trackbarId, steps, min, max, current, message, wParam, lParam);
    return lastResult;
}

int32_t Slider::process(UINT message, WPARAM wParam, LPARAM lParam)
{
    const int32_t result = onMessage(message, wParam, lParam);
    if (result == 1) {
        if (value)
            *value = current;
        updateLabel();
        return liveUpdate ? 1 : 0;
    }
    return result == 2 && !liveUpdate ? 1 : 0;
}

bool Slider::updateLabel() const
{
    wchar_t text[64];
    std::swprintf(text, 64, floatFormat(precision), double(value ? *value : current));
    return setText(label, text);
}

IntSlider::IntSlider(int32_t* value, int32_t labelId, bool powerOfTwo, bool liveUpdate, int32_t trackbarId,
                     int32_t steps, float min, float max)
    : value(value), labelId(labelId), powerOfTwo(powerOfTwo ? 1 : 0), liveUpdate(liveUpdate ? 1 : 0),
      trackbarId(trackbarId), steps(std::max(steps, 1)), min(min), max(max)
{
}

void IntSlider::init(HWND page)
{
    dialog = page;
    trackbar = GetDlgItem(dialog, trackbarId);
    label = GetDlgItem(dialog, labelId);
    initTrackbar(trackbar, steps);
    setPosition();
}

bool IntSlider::setPosition(bool redraw)
{
    float v = 0.0f;
    if (value) {
        if (powerOfTwo) {
            const int32_t m = int32_t(std::ceil(min));
            v = float(bitLength(*value) - bitLength(m) + m);
        } else {
            v = float(*value);
        }
    }
    const int32_t position = positionOf(v, min, max, steps);
    current = valueAt(position, min, max, steps);
    const bool moved = placeThumb(trackbar, position, redraw);
    return updateLabel() || moved;
}

int32_t IntSlider::stored() const
{
    // The thumb's value is a whole number but for float rounding.
    const int32_t whole = int32_t(std::ceil(current - 1e-3f));
    if (!powerOfTwo)
        return whole;
    const int32_t m = int32_t(std::ceil(min));
    return int32_t(uint32_t(m) << std::clamp(whole - m, 0, 31));
}

int32_t IntSlider::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    lastResult = followThumb(trackbar, trackbarId, steps, min, max, current, message, wParam, lParam);
    return lastResult;
}

int32_t IntSlider::process(UINT message, WPARAM wParam, LPARAM lParam)
{
    const int32_t result = onMessage(message, wParam, lParam);
    if (result == 1) {
        if (value)
            *value = stored();
        updateLabel();
        return liveUpdate ? 1 : 0;
    }
    return result == 2 && !liveUpdate ? 1 : 0;
}

bool IntSlider::updateLabel() const
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%i", value ? *value : stored());
    return setText(label, text);
}

template <int N>
VectorSlider<N>::VectorSlider(float* components, int32_t labelId, int32_t precision, bool liveUpdate,
                              const int32_t (&trackbarIds)[N], int32_t steps, float min, float max)
    : value(components), labelId(labelId), precision(precision), liveUpdate(liveUpdate ? 1 : 0)
{
    for (int i = 0; i < N; ++i) {
        component[i].trackbarId = trackbarIds[i];
        component[i].steps = std::max(steps, 1);
        component[i].min = min;
        component[i].max = max;
    }
}

template <int N>
void VectorSlider<N>::init(HWND page)
{
    for (Component& c : component) {
        c.dialog = page;
        c.trackbar = GetDlgItem(page, c.trackbarId);
        initTrackbar(c.trackbar, c.steps);
    }
    label = GetDlgItem(page, labelId);
    setPosition();
}

template <int N>
bool VectorSlider<N>::setPosition(bool redraw)
{
    bool moved = false;
    for (int i = 0; i < N; ++i) {
        Component& c = component[i];
        const int32_t position = value ? positionOf(value[i], c.min, c.max, c.steps) : 0;
        c.current = valueAt(position, c.min, c.max, c.steps);
        moved = placeThumb(c.trackbar, position, redraw) || moved;
    }
    return updateLabel() || moved;
}

template <int N>
int32_t VectorSlider<N>::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    lastResult = 0;
    for (Component& c : component) {
        lastResult = followThumb(c.trackbar, c.trackbarId, c.steps, c.min, c.max, c.current, message, wParam, lParam);
        if (lastResult != 0)
            break;
    }
    return lastResult;
}

template <int N>
int32_t VectorSlider<N>::process(UINT message, WPARAM wParam, LPARAM lParam)
{
    const int32_t result = onMessage(message, wParam, lParam);
    if (result == 1) {
        if (value)
            for (int i = 0; i < N; ++i)
                value[i] = component[i].current;
        updateLabel();
        return liveUpdate ? 1 : 0;
    }
    return result == 2 && !liveUpdate ? 1 : 0;
}

template <int N>
bool VectorSlider<N>::updateLabel() const
{
    const wchar_t* format = floatFormat(precision);
    wchar_t text[128] = {};
    size_t used = 0;
    for (int i = 0; i < N && used < 100; ++i) {
        if (i)
            used += size_t(std::swprintf(text + used, 128 - used, L" | "));
        used += size_t(std::swprintf(text + used, 128 - used, format,
                                     double(value ? value[i] : component[i].current)));
    }
    return setText(label, text);
}

template class VectorSlider<2>;
template class VectorSlider<3>;

// ---------------------------------------------------------------- Bitmap

Bitmap::~Bitmap()
{
    release();
}

void Bitmap::release()
{
    if (bitmap)
        DeleteObject(bitmap);
    bitmap = nullptr;
    pixels32 = surface1d<Color>();
    pixels16 = surface1d<ColorA1R5G5B5>();
}

bool Bitmap::create(HWND target, bool clientSize, int32_t w, int32_t h, int32_t depth)
{
    release();
    window = target;
    if (clientSize) {
        RECT client{};
        if (!GetClientRect(target, &client))
            return false;
        w = client.right - client.left;
        h = client.bottom - client.top;
    }
    if (depth <= 0) {
        HDC dc = GetDC(target);
        depth = GetDeviceCaps(dc, BITSPIXEL);
        ReleaseDC(target, dc);
    }
    // The pixels are always 32-bit, whatever the screen's depth: the bitmap
    // is of the screen's depth and SetDIBits converts.
    pixelFormat = 21;
    if (w < 1 || h < 1 || !pixels32.resize(w, h))
        return false;
    bitmap = CreateBitmap(w, h, 1, UINT(depth), nullptr);
    if (!bitmap) {
        release();
        return false;
    }
    info = BITMAPINFO{};
    BITMAPINFOHEADER& header = info.bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = w;
    // Top row first, as the pictures copied in are laid out.
    header.biHeight = -h;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    header.biXPelsPerMeter = 6000;
    header.biYPelsPerMeter = 6000;
    return true;
}

void Bitmap::update()
{
    if (!bitmap || !pixels32.pixels)
        return;
    HDC dc = GetDC(window);
    SetDIBits(dc, bitmap, 0, UINT(pixels32.height), pixels32.pixels, &info, DIB_RGB_COLORS);
    ReleaseDC(window, dc);
}

void Bitmap::draw(int32_t x, int32_t y)
{
    if (!bitmap || !pixels32.pixels)
        return;
    update();
    HDC dc = GetDC(window);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(dc, x, y, pixels32.width, pixels32.height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(window, dc);
}

// ---------------------------------------------------------------- HyperLink

ATOM HyperLink::atom = 0;
HyperLink gHyperLink;

void HyperLink::addAtom()
{
    if (!atom)
        atom = GlobalAddAtomW(atomName);
}

void HyperLink::deleteAtom()
{
    if (atom)
        GlobalDeleteAtom(atom);
    atom = 0;
}

bool HyperLink::open()
{
    if (!target || !*target)
        return false;
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.lpVerb = L"open";
    execute.lpFile = target;
    execute.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&execute) != FALSE;
}

// ---------------------------------------------------------------- fonts

HFONT PageFont::create(HWND dialog, const wchar_t* face, int32_t points, int32_t weight)
{
    release();
    HDC dc = GetDC(dialog);
    const int32_t height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(dialog, dc);
    font = CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
    return font;
}

void PageFont::release()
{
    if (font)
        DeleteObject(font);
    font = nullptr;
}

void setPlayButtons(HWND dialog, HFONT font, const int32_t* ids, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        if (font)
            SendDlgItemMessageW(dialog, ids[i], WM_SETFONT, WPARAM(font), TRUE);
        SetDlgItemTextW(dialog, ids[i], L"\u25BA");
    }
}

} // namespace DialogTools
