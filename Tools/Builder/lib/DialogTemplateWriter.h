#pragma once

#include "BuiltinTextures.h"

#include <cstdint>
#include <string>
#include <vector>

// The dialog templates of the object functions' editing pages, made from
// one table: each page's resource id (include/DialogPages.h), caption and
// size, and its controls with the ids the pages' code uses. The layout and
// captions are ours. resourceScript() writes them as a resource script that
// Korvanta.rc and the object tests' resources include ("Dialogs.rc").
namespace DialogTemplateWriter {

enum class Kind
{
    label,   // static text
    value,   // static text in a sunken frame, set by the page
    edit,    // one-line edit field
    button,
    check,   // automatic check box
    radio,   // automatic radio button
    trackbar,
    swatch,  // owner-drawn button showing a colour
    picture, // static bitmap, set by the page (STM_SETIMAGE)
    combo,   // drop-down list
};

struct Control
{
    Kind kind;
    int32_t id; // -1 for captions the page never touches
    std::string caption;
    int32_t x, y, width, height; // dialog units
};

struct Page
{
    uint16_t resource;
    std::string name;
    std::string caption;
    int32_t width, height;
    std::vector<Control> controls;
    // A page inside another page's window: no caption or frame.
    bool child = false;

    // Whether a control of this id is in the page.
    bool has(int32_t id) const;
};

// Every page, in resource order.
const std::vector<Page>& pages();

// The resource script of the pages (ASCII text).
std::string resourceScript(const std::vector<Page>& pages);

// "Dialogs.rc" with every page, as the builder writes it beside the
// built-in images.
BuiltinTextures::File file();

}
