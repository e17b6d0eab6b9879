#pragma once
// The base of every object-function template: a package-wide parameter set
// of one function kind that doubles as the kind's editing page. A template
// made by the package reader has no window; Template::create opens its page
// from a dialog template of the program's resources (DialogTools.cpp).

#include <windows.h>

#include <cstdint>

class Template
{
public:
    Template() = default;
    // An open page goes with its template.
    virtual ~Template();
    Template(const Template&) = delete;
    Template& operator=(const Template&) = delete;

    // Opens the page of dialog resource `resource`. An open page is only
    // brought to the front (0). Modeless: the page is shown and 0 returned;
    // modal: the dialog's result.
    virtual INT_PTR create(uint16_t resource, HWND parent, bool modeless);
    // Modal: ends the dialog with result; modeless: destroys the page.
    virtual void close(INT_PTR result);
    // The page's messages, from WM_INITDIALOG on; non-zero when handled.
    virtual INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT defaultHandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    // The dialog procedure of every page: binds the template given at
    // creation to the window and hands it every message.
    static INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window = nullptr;
    uint32_t modeless = 0;
};
