#pragma once
// What the menu tests share: the font globals for the whole program, faces
// of no font whose glyph widths a test chooses, and a swap chain without a
// device that holds a widget list.
#include "Menu/UIFont.h"
#include "Menu/UserInterface.h"
#include "Render/SwapChain.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace MenuTest {

// A face laid out by hand: every character c with width(c) >= 0 has a
// glyph of that width in one layer (no texture); the others have none and
// the face makes none.
inline std::unique_ptr<UserInterface::UIFont::Face> fakeFace(const std::function<int(wchar_t)>& width,
                                                             float lineHeight = 20.0f, wchar_t last = 0x2FF)
{
    using Face = UserInterface::UIFont::Face;
    auto face = std::make_unique<Face>();
    face->setStyle(0, 20, -1, {});
    face->setHeight(int32_t(lineHeight));
    auto* layer = new Face::Layer;
    face->layers[0] = layer;
    for (wchar_t c = 1; c <= last; ++c) {
        const int w = width(c);
        if (w < 0)
            continue;
        Face::TexCoord& record = *layer->records.at(layer->count);
        record = {0.0f, 0.0f, 0.1f, 0.1f, float(w), float(w + face->cellPadX), 0.0f, 0.0f};
        *face->map.at(c) = {0, layer->count};
        ++layer->count;
    }
    return face;
}

// A swap chain that is never given a device: its widget list works.
inline std::unique_ptr<D3D::Device::SwapChain> listOnlyChain()
{
    return std::make_unique<D3D::Device::SwapChain>(nullptr);
}

// The widgets of root's list, head to tail.
inline std::vector<UserInterface::Widget*> listed(UserInterface::Root& root)
{
    std::vector<UserInterface::Widget*> out;
    for (auto* n = root.widgets.head(); n; n = n->next)
        out.push_back(n->item);
    return out;
}

}
