#pragma once
// A dialog page's controls driven the way the controls themselves would:
// texts read back, buttons clicked, fields typed into and trackbars slid,
// each with the notification its control sends.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

namespace PageControls {

inline std::wstring textOf(HWND dialog, int32_t id)
{
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

inline void click(HWND dialog, int32_t id)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(dialog, id)));
}

inline void type(HWND dialog, int32_t id, const std::wstring& text)
{
    SetDlgItemTextW(dialog, id, text.c_str());
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), LPARAM(GetDlgItem(dialog, id)));
}

// The thumb of trackbar id at position, then its notification.
inline void slide(HWND dialog, int32_t id, int32_t position)
{
    HWND trackbar = GetDlgItem(dialog, id);
    SendMessageW(trackbar, TBM_SETPOS, TRUE, position);
    NMHDR notify{trackbar, UINT_PTR(id), UINT(NM_RELEASEDCAPTURE)};
    SendMessageW(dialog, WM_NOTIFY, WPARAM(id), LPARAM(&notify));
}

} // namespace PageControls
