// The editing pages' toolkit on real controls under Wine: sliders on
// trackbars, labels, the colour swatch on a memory device context, the page
// bitmap at several depths, the file and colour choosers through their
// seams and for real (closed by a posted cancel), typed numbers.
#include "Application/DialogTools.h"

#include "DialogPages.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>

namespace {

constexpr int32_t trackbarId = 101, labelId = 102, editId = 103;
constexpr int32_t vectorIds[3] = {111, 112, 113};

// A window with trackbars, labels and an edit field as a page has them.
class DialogToolsTest : public testing::Test
{
protected:
    // One window for the whole suite: under Xvfb Wine waits for a window
    // manager each time a window goes.
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        page = CreateWindowExW(0, L"STATIC", L"page", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr,
                               nullptr, nullptr);
        for (int32_t id : {trackbarId, vectorIds[0], vectorIds[1], vectorIds[2]})
            CreateWindowExW(0, TRACKBAR_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, page, HMENU(INT_PTR(id)),
                            nullptr, nullptr);
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 30, 100, 20, page, HMENU(INT_PTR(labelId)),
                        nullptr, nullptr);
        CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 60, 100, 20, page, HMENU(INT_PTR(editId)), nullptr,
                        nullptr);
    }
    static void TearDownTestSuite()
    {
        DestroyWindow(page);
        page = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(page, nullptr);
        for (int32_t id : {trackbarId, vectorIds[0], vectorIds[1], vectorIds[2], labelId, editId})
            ASSERT_NE(GetDlgItem(page, id), nullptr) << id;
    }
    void TearDown() override
    {
        DialogTools::openFileFunction = GetOpenFileNameW;
        DialogTools::chooseColorFunction = ChooseColorW;
    }

    // The thumb put at position, then the trackbar's notification.
    LRESULT moveTo(int32_t id, int32_t position)
    {
        SendDlgItemMessageW(page, id, TBM_SETPOS, TRUE, position);
        notify.hwndFrom = GetDlgItem(page, id);
        notify.idFrom = UINT_PTR(id);
        notify.code = NM_RELEASEDCAPTURE;
        return LPARAM(&notify);
    }
    LPARAM endTrack(int32_t id) const { return LPARAM(GetDlgItem(page, id)); }
    int32_t position(int32_t id) const { return int32_t(SendDlgItemMessageW(page, id, TBM_GETPOS, 0, 0)); }
    std::wstring text(int32_t id) const
    {
        wchar_t buffer[256] = {};
        GetDlgItemTextW(page, id, buffer, 256);
        return buffer;
    }

    static inline HWND page = nullptr;
    NMHDR notify{};
};

} // namespace

TEST_F(DialogToolsTest, FloatSlidersMoveTheirThumbAndWriteTheirValue)
{
    struct Case
    {
        float value, min, max;
        int32_t steps, precision;
        bool live;
        int32_t position;      // after init
        const wchar_t* label;  // after init
        int32_t moveTo;
        float moved;           // the value after the move
        const wchar_t* movedLabel;
    };
    const Case cases[] = {
        {0.5f, 0.0f, 2.0f, 100, 2, true, 25, L"0.50", 30, 0.6f, L"0.60"},
        {0.5f, 0.0f, 2.0f, 100, 1, false, 25, L"0.5", 30, 0.6f, L"0.6"},
        {45.0f, 5.0f, 90.0f, 100, 0, true, 47, L"45", 100, 90.0f, L"90"},
        // Values outside the range put the thumb at its ends.
        {-3.0f, 0.0f, 1.0f, 100, 3, true, 0, L"-3.000", 1, 0.01f, L"0.010"},
        {7.0f, 0.0f, 1.0f, 100, 2, true, 100, L"7.00", 50, 0.5f, L"0.50"},
        {NAN, 0.0f, 1.0f, 10, 2, true, 0, L"nan", 5, 0.5f, L"0.50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " over " << c.min << ".." << c.max);
        float value = c.value;
        DialogTools::Slider slider(&value, labelId, c.precision, c.live, trackbarId, c.steps, c.min, c.max);
        slider.init(page);
        EXPECT_EQ(position(trackbarId), c.position);
        if (!std::isnan(c.value)) {
            EXPECT_EQ(text(labelId), c.label);
        }
        EXPECT_EQ(SendDlgItemMessageW(page, trackbarId, TBM_GETRANGEMAX, 0, 0), c.steps);
        EXPECT_EQ(SendDlgItemMessageW(page, trackbarId, TBM_GETPAGESIZE, 0, 0), c.steps / 10);
        // The slider holds the value of the thumb's step: a notification
        // with the thumb where init put it changes nothing.
        EXPECT_FLOAT_EQ(slider.current, c.min + (c.max - c.min) * float(c.position) / float(c.steps));
        EXPECT_EQ(slider.process(WM_NOTIFY, 0, moveTo(trackbarId, c.position)), 0);
        EXPECT_EQ(slider.lastResult, 0);

        // A move: applied at once with live update, else when the thumb is let go.
        EXPECT_EQ(slider.process(WM_NOTIFY, 0, moveTo(trackbarId, c.moveTo)), c.live ? 1 : 0);
        EXPECT_EQ(slider.lastResult, 1);
        EXPECT_NEAR(value, c.moved, 1e-5f) << "written either way";
        EXPECT_EQ(text(labelId), c.movedLabel);
        EXPECT_EQ(slider.process(WM_HSCROLL, TB_ENDTRACK, endTrack(trackbarId)), c.live ? 0 : 1);
        EXPECT_EQ(slider.lastResult, 2);
        // The same position again changes nothing; other controls' messages are not the slider's.
        EXPECT_EQ(slider.process(WM_NOTIFY, 0, moveTo(trackbarId, c.moveTo)), 0);
        EXPECT_EQ(slider.process(WM_NOTIFY, 0, moveTo(vectorIds[0], 3)), 0);
        EXPECT_EQ(slider.process(WM_HSCROLL, TB_THUMBTRACK, endTrack(trackbarId)), 0);
        EXPECT_EQ(slider.process(WM_HSCROLL, TB_ENDTRACK, endTrack(vectorIds[0])), 0);
        EXPECT_EQ(slider.process(WM_COMMAND, 0, 0), 0);
    }
}

TEST_F(DialogToolsTest, IntegerSlidersStoreWholeNumbersAndPowersOfTwo)
{
    // min 1, max 11, 100 steps: position 32 stands for 4.2.
    int32_t stored = 0;
    DialogTools::IntSlider power(&stored, labelId, true, true, trackbarId, 100, 1.0f, 11.0f);
    power.init(page);
    EXPECT_EQ(power.process(WM_NOTIFY, 0, moveTo(trackbarId, 32)), 1);
    EXPECT_NEAR(power.current, 4.2f, 1e-5f);
    EXPECT_EQ(stored, 16) << "1 << (ceil(4.2) - 1)";
    EXPECT_EQ(text(labelId), L"16");

    int32_t plain = 0;
    DialogTools::IntSlider whole(&plain, labelId, false, false, trackbarId, 100, 0.0f, 10.0f);
    whole.init(page);
    EXPECT_EQ(whole.process(WM_NOTIFY, 0, moveTo(trackbarId, 42)), 0);
    EXPECT_EQ(plain, 5) << "ceil(4.2)";
    EXPECT_EQ(whole.process(WM_HSCROLL, TB_ENDTRACK, endTrack(trackbarId)), 1);

    // Every power of two up to 2^20 comes back as it went in: the thumb
    // stands at its exponent, and the value is stored unchanged.
    for (int32_t k = 0; k <= 20; ++k) {
        SCOPED_TRACE(k);
        int32_t value = 1 << k;
        DialogTools::IntSlider slider(&value, labelId, true, true, trackbarId, 20, 1.0f, 21.0f);
        slider.init(page);
        EXPECT_EQ(position(trackbarId), k);
        EXPECT_EQ(slider.stored(), 1 << k);
        EXPECT_EQ(text(labelId), std::to_wstring(1 << k));
        // Away and back again.
        slider.process(WM_NOTIFY, 0, moveTo(trackbarId, k == 20 ? 0 : 20));
        EXPECT_EQ(slider.process(WM_NOTIFY, 0, moveTo(trackbarId, k)), 1);
        EXPECT_EQ(value, 1 << k);
    }
}

TEST_F(DialogToolsTest, VectorSlidersShareOneLabel)
{
    struct Case
    {
        int32_t precision;
        const wchar_t* label;
    };
    for (const Case& c : {Case{0, L"1 | 3 | 9"}, Case{1, L"1.0 | 3.0 | 9.0"}, Case{3, L"1.000 | 3.000 | 9.000"}}) {
        float v[3] = {1.0f, 3.0f, 9.0f};
        DialogTools::Vector3Slider slider(v, labelId, c.precision, true, vectorIds, 10, 0.0f, 10.0f);
        slider.init(page);
        EXPECT_EQ(text(labelId), c.label);
        EXPECT_EQ(position(vectorIds[2]), 9);
    }
    float v[2] = {0.5f, 0.25f};
    const int32_t ids[2] = {vectorIds[0], vectorIds[1]};
    DialogTools::Vector2Slider pair(v, labelId, 2, true, ids, 100, 0.0f, 1.0f);
    pair.init(page);
    EXPECT_EQ(text(labelId), L"0.50 | 0.25");
    EXPECT_EQ(pair.process(WM_NOTIFY, 0, moveTo(vectorIds[1], 75)), 1);
    EXPECT_FLOAT_EQ(v[1], 0.75f);
    EXPECT_FLOAT_EQ(v[0], 0.5f);
    EXPECT_EQ(text(labelId), L"0.50 | 0.75");
}

TEST_F(DialogToolsTest, TypedNumbersAreReadUpToAHundredCharacters)
{
    struct Case
    {
        std::wstring typed;
        int32_t value;
    };
    const Case cases[] = {
        {L"7", 7}, {L"-12", -12}, {L"", 0}, {L"abc", 0}, {L"42abc", 42}, {L"99999999999", INT32_MAX},
        // Digits past the hundredth character are not read.
        {std::wstring(99, L'0') + L"12345", 1},
        {std::wstring(5000, L'9'), INT32_MAX},
    };
    for (const Case& c : cases) {
        SetDlgItemTextW(page, editId, c.typed.c_str());
        EXPECT_EQ(DialogTools::readInteger(page, editId), c.value) << c.typed.substr(0, 20).c_str();
    }
}

TEST_F(DialogToolsTest, CheckBoxesAndTheFileFilters)
{
    HWND box = CreateWindowExW(0, L"BUTTON", L"x", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 50, 20, page, HMENU(INT_PTR(120)),
                               nullptr, nullptr);
    EXPECT_FALSE(DialogTools::isChecked(page, 120));
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(DialogTools::isChecked(page, 120));
    SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
    EXPECT_FALSE(DialogTools::isChecked(page, 120));

    EXPECT_EQ(DialogTools::fileFilter(0), nullptr) << "kind 0: all files, no list";
    EXPECT_EQ(DialogTools::fileFilter(-1), nullptr);
    EXPECT_EQ(DialogTools::fileFilter(13), nullptr);
    const int32_t pairs[13] = {0, 7, 9, 7, 1, 1, 1, 3, 1, 1, 1, 1, 1};
    for (int32_t kind = 1; kind < DialogTools::fileFilterKinds; ++kind) {
        int32_t texts = 0;
        for (const wchar_t* t = DialogTools::fileFilter(kind); *t; t += wcslen(t) + 1)
            ++texts;
        EXPECT_EQ(texts, 2 * pairs[kind]) << "kind " << kind;
    }
    EXPECT_STREQ(DialogTools::fileFilter(7), L"Sound files (*.wav;*.ogg)");
    EXPECT_STREQ(DialogTools::fileFilter(10), L"Tessary Engine Object (*.teo)");
}

namespace {

std::wstring seenStart;
const wchar_t* seenFilter = nullptr;
DWORD seenFlags = 0;
COLORREF seenCustom[16];
COLORREF seenStartColour = 0;
bool answerOk = true;

BOOL WINAPI fakeOpen(OPENFILENAMEW* open)
{
    seenStart = open->lpstrFile;
    seenFilter = open->lpstrFilter;
    seenFlags = open->Flags;
    if (!answerOk)
        return FALSE;
    wcscpy(open->lpstrFile, L"C:\\Sounds\\rustle.wav");
    return TRUE;
}

BOOL WINAPI fakeColour(CHOOSECOLORW* choice)
{
    seenStartColour = choice->rgbResult;
    std::copy(choice->lpCustColors, choice->lpCustColors + 16, seenCustom);
    seenFlags = choice->Flags;
    if (!answerOk)
        return FALSE;
    choice->rgbResult = RGB(10, 20, 30);
    return TRUE;
}

} // namespace

TEST_F(DialogToolsTest, ChoosersGoThroughTheirSeams)
{
    DialogTools::openFileFunction = fakeOpen;
    DialogTools::chooseColorFunction = fakeColour;
    for (bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "OK" : "cancelled");
        answerOk = ok;
        // A start path longer than the dialog's buffer is cut to 259 characters.
        const std::wstring longPath = L"C:\\" + std::wstring(400, L'a');
        String path(longPath.c_str());
        EXPECT_EQ(DialogTools::openFileDialog(path, 7, page), ok);
        EXPECT_EQ(seenStart, longPath.substr(0, 259));
        EXPECT_EQ(seenFilter, DialogTools::fileFilter(7));
        EXPECT_EQ(seenFlags, DWORD(OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST));
        EXPECT_EQ(std::wstring(path.text()), ok ? std::wstring(L"C:\\Sounds\\rustle.wav") : longPath);

        // Twenty palette colours: only the first sixteen become custom colours.
        Color palette[20];
        for (int i = 0; i < 20; ++i)
            palette[i] = Color(uint8_t(i), uint8_t(2 * i), uint8_t(3 * i), 7);
        Color colour(200, 100, 50, 9);
        EXPECT_EQ(DialogTools::chooseColor(page, colour, palette, 20), ok);
        EXPECT_EQ(seenStartColour, RGB(200, 100, 50));
        EXPECT_EQ(seenFlags, DWORD(CC_RGBINIT | CC_FULLOPEN));
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(seenCustom[i], RGB(i, 2 * i, 3 * i)) << i;
        if (ok) {
            EXPECT_EQ(colour.r, 10);
            EXPECT_EQ(colour.g, 20);
            EXPECT_EQ(colour.b, 30);
            EXPECT_EQ(colour.a, 255) << "a chosen colour is opaque";
        } else {
            EXPECT_EQ(colour.r, 200);
            EXPECT_EQ(colour.a, 9) << "a cancelled choice keeps the alpha";
        }
    }
}

namespace {

// Posts a cancel to the first dialog of this process that appears.
class CancelPoster
{
public:
    CancelPoster()
        : thread_([this] {
              for (int i = 0; i < 400 && !stop_; ++i) {
                  HWND found = nullptr;
                  EnumWindows(
                      [](HWND w, LPARAM out) -> BOOL {
                          DWORD process = 0;
                          GetWindowThreadProcessId(w, &process);
                          wchar_t name[16] = {};
                          GetClassNameW(w, name, 16);
                          if (process == GetCurrentProcessId() && IsWindowVisible(w) && wcscmp(name, L"#32770") == 0) {
                              *reinterpret_cast<HWND*>(out) = w;
                              return FALSE;
                          }
                          return TRUE;
                      },
                      LPARAM(&found));
                  if (found) {
                      PostMessageW(found, WM_COMMAND, IDCANCEL, 0);
                      posted = true;
                      return;
                  }
                  Sleep(50);
              }
          })
    {
    }
    ~CancelPoster()
    {
        stop_ = true;
        thread_.join();
    }
    std::atomic<bool> posted{false};

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

TEST_F(DialogToolsTest, TheRealDialogsClosedByACancelLeavePathAndColour)
{
    {
        String path(L"C:\\windows\\win.ini");
        CancelPoster cancel;
        EXPECT_FALSE(DialogTools::openFileDialog(path, 1, page));
        EXPECT_STREQ(path.text(), L"C:\\windows\\win.ini");
    }
    {
        Color colour(1, 2, 3, 4);
        const Color palette[2] = {Color(9, 9, 9, 9), Color(8, 8, 8, 8)};
        CancelPoster cancel;
        EXPECT_FALSE(DialogTools::chooseColor(page, colour, palette, 2));
        EXPECT_EQ(colour.r, 1);
        EXPECT_EQ(colour.g, 2);
        EXPECT_EQ(colour.b, 3);
        EXPECT_EQ(colour.a, 4);
    }
}

namespace {

// A 32-bit top-down memory picture to draw into.
struct MemoryPicture
{
    MemoryPicture(int32_t w, int32_t h) : width(w), height(h)
    {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        old = SelectObject(dc, bitmap);
        for (int32_t i = 0; i < w * h; ++i)
            bits[i] = 0x123456;
    }
    ~MemoryPicture()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    uint32_t at(int32_t x, int32_t y)
    {
        GdiFlush();
        return bits[y * width + x] & 0xFFFFFF;
    }
    int32_t width, height;
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t* bits = nullptr;
};

uint32_t rgbOf(COLORREF c)
{
    return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c);
}

} // namespace

TEST_F(DialogToolsTest, ASwatchFillsItsInsideAndRaisesOrSinksItsEdges)
{
    const uint32_t shadow = rgbOf(GetSysColor(COLOR_3DSHADOW)), light = rgbOf(GetSysColor(COLOR_3DHILIGHT));
    ASSERT_NE(shadow, light);
    struct Case
    {
        UINT action, state;
        bool colour;
        bool filled, edges, pressed;
    };
    const Case cases[] = {
        {ODA_DRAWENTIRE, 0, true, true, true, false},
        {ODA_DRAWENTIRE, ODS_SELECTED, true, true, true, true},
        {ODA_SELECT, ODS_SELECTED, true, false, true, true},
        {ODA_DRAWENTIRE, 0, false, false, true, false},
        {ODA_FOCUS, 0, true, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "action " << c.action << " state " << c.state);
        MemoryPicture picture(20, 12);
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.itemAction = c.action;
        item.itemState = c.state;
        item.hDC = picture.dc;
        item.rcItem = {0, 0, 20, 12};
        const Color colour(0xC0, 0x40, 0x20, 0x10);
        DialogTools::drawColorSwatch(item, c.colour ? &colour : nullptr);
        EXPECT_EQ(picture.at(10, 6), c.filled ? 0xC04020u : 0x123456u) << "inside";
        EXPECT_EQ(picture.at(1, 1), c.filled ? 0xC04020u : 0x123456u) << "first inner texel";
        const uint32_t topLeft = c.edges ? (c.pressed ? shadow : light) : 0x123456u;
        const uint32_t bottomRight = c.edges ? (c.pressed ? light : shadow) : 0x123456u;
        EXPECT_EQ(picture.at(10, 0), topLeft);
        EXPECT_EQ(picture.at(0, 6), topLeft);
        EXPECT_EQ(picture.at(19, 6), bottomRight);
        EXPECT_EQ(picture.at(10, 11), bottomRight);
    }
}

TEST_F(DialogToolsTest, ABitmapHoldsThirtyTwoBitPixelsAtEveryDepth)
{
    for (int32_t depth : {16, 24, 32}) {
        SCOPED_TRACE(depth);
        DialogTools::Bitmap bitmap;
        ASSERT_TRUE(bitmap.create(page, false, 8, 6, depth));
        EXPECT_EQ(bitmap.width(), 8);
        EXPECT_EQ(bitmap.height(), 6);
        EXPECT_EQ(bitmap.pixelFormat, 21u);
        EXPECT_EQ(bitmap.info.bmiHeader.biBitCount, 32);
        BITMAP described{};
        GetObjectW(bitmap.bitmap, sizeof(described), &described);
        EXPECT_EQ(described.bmBitsPixel, depth);
        // Red down the left column, green on the top row, blue elsewhere:
        // colours that every depth holds.
        for (int32_t y = 0; y < 6; ++y)
            for (int32_t x = 0; x < 8; ++x)
                *bitmap.pixel(x, y) = x == 0 ? Color(0xFF, 0, 0, 255) : y == 0 ? Color(0, 0xFF, 0, 255) : Color(0, 0, 0xFF, 255);
        bitmap.draw(10, 20);
        // The bitmap's own pixels, read back as 32-bit top-down rows.
        BITMAPINFO info = bitmap.info;
        uint32_t back[48] = {};
        HDC dc = GetDC(page);
        EXPECT_EQ(GetDIBits(dc, bitmap.bitmap, 0, 6, back, &info, DIB_RGB_COLORS), 6);
        ReleaseDC(page, dc);
        for (int32_t y = 0; y < 6; ++y)
            for (int32_t x = 0; x < 8; ++x) {
                const uint32_t want = x == 0 ? 0xFF0000u : y == 0 ? 0x00FF00u : 0x0000FFu;
                EXPECT_EQ(back[y * 8 + x] & 0xF8F8F8u, want & 0xF8F8F8u) << x << ", " << y;
            }
    }
    DialogTools::Bitmap sized;
    ASSERT_TRUE(sized.create(page, true));
    EXPECT_EQ(sized.width(), 300) << "the window's client size";
    EXPECT_EQ(sized.height(), 200);
    EXPECT_FALSE(sized.create(page, false, 0, 5));
    EXPECT_EQ(sized.bitmap, nullptr) << "the old bitmap went";
}

TEST(DialogToolsHyperLink, TheAtomAndALinkWithoutTarget)
{
    // Global atoms outlive a program that ends without its clean-up: the
    // game's own start in another test may have left this one behind.
    const ATOM before = GlobalFindAtomW(DialogTools::HyperLink::atomName);
    DialogTools::HyperLink::addAtom();
    EXPECT_NE(DialogTools::HyperLink::atom, 0);
    EXPECT_EQ(GlobalFindAtomW(DialogTools::HyperLink::atomName), DialogTools::HyperLink::atom);
    DialogTools::HyperLink::deleteAtom();
    EXPECT_EQ(DialogTools::HyperLink::atom, 0);
    EXPECT_EQ(GlobalFindAtomW(DialogTools::HyperLink::atomName), before) << "our reference is given back";
    DialogTools::HyperLink link;
    EXPECT_FALSE(link.open());
    link.target = L"";
    EXPECT_FALSE(link.open());
}

namespace {

// A page that notes what reaches it.
class CountingPage final : public Template
{
public:
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) override
    {
        ++messages;
        if (message == WM_INITDIALOG) {
            initialised = dialog;
            return TRUE;
        }
        if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            close(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    int messages = 0;
    HWND initialised = nullptr;
};

} // namespace

// The page base: a modeless page gets its messages from WM_INITDIALOG on, is
// only raised when asked again, and forgets its window however it goes; a
// modal one returns the result it was closed with.
TEST(DialogToolsTemplate, PagesOpenOnceAndForgetTheirWindow)
{
    CountingPage page;
    EXPECT_EQ(page.create(DialogPages::oilPuddle, nullptr, true), 0);
    ASSERT_NE(page.window, nullptr);
    EXPECT_EQ(page.initialised, page.window);
    EXPECT_EQ(page.modeless, 1u);
    EXPECT_EQ(GetWindowLongPtrW(page.window, GWLP_USERDATA), LONG_PTR(&page));
    const int before = page.messages;
    EXPECT_GT(before, 0);
    SendMessageW(page.window, WM_USER + 5, 0, 0);
    EXPECT_EQ(page.messages, before + 1) << "every message reaches the page";
    HWND window = page.window;
    EXPECT_EQ(page.create(DialogPages::oilPuddle, nullptr, true), 0);
    EXPECT_EQ(page.window, window) << "an open page is only raised";
    EXPECT_EQ(page.handleDialogMessage(window, WM_TIMER, 0, 0), FALSE);
    EXPECT_EQ(page.Template::handleDialogMessage(window, WM_COMMAND, IDOK, 0), 0) << "the base handles nothing";
    EXPECT_TRUE(IsWindow(window));

    // Destroyed from outside, the page forgets its window.
    DestroyWindow(window);
    EXPECT_EQ(page.window, nullptr);
    EXPECT_EQ(page.create(DialogPages::oilPuddle, nullptr, true), 0);
    ASSERT_NE(page.window, nullptr);
    EXPECT_NE(page.initialised, window);
    SendMessageW(page.window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(page.window, nullptr);

    // Modal: the result it was closed with.
    std::thread closer([] {
        // A minute at most: only a box that never shows takes that long.
        for (int i = 0; i < 2400; ++i) {
            if (HWND found = FindWindowW(L"#32770", L"Oil puddle")) {
                PostMessageW(found, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            Sleep(25);
        }
    });
    EXPECT_EQ(page.create(DialogPages::oilPuddle, nullptr, false), IDCANCEL);
    closer.join();
    EXPECT_EQ(page.modeless, 0u);
    EXPECT_EQ(page.window, nullptr);
    EXPECT_EQ(page.create(0xFFF0, nullptr, true), 0) << "no such template";
    EXPECT_EQ(page.window, nullptr);
}
