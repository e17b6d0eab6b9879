#pragma once
// The base of every object-function template: a package-wide parameter set
// of one function kind that doubles as the kind's editing page. The page
// itself (its window and message handling) is the editing dialogs' part; a
// template made by the package reader has no window.

#include <windows.h>

#include <cstdint>

class Template
{
public:
    Template() = default;
    virtual ~Template() = default;
    Template(const Template&) = delete;
    Template& operator=(const Template&) = delete;

    HWND window = nullptr;
    uint32_t modeless = 0;
};
