#include "Menu/Widget.h"

#include "Menu/UserInterface.h"
#include "Render/SwapChain.h"

#include "Core/Timer.h"

namespace UserInterface {

Widget::Widget(D3D::Device::SwapChain* ownerChain, float target, float speed)
    : owner(ownerChain), root(ownerChain ? ownerChain->userInterface : nullptr),
      targetOpacity(target > 1.0f ? 1.0f : target), fadeSpeed(speed)
{
}

Widget::~Widget()
{
    if (node && root)
        root->widgets.unlink(node);
    node = nullptr;
}

void Widget::addChild(int32_t newLayer)
{
    layer = newLayer;
    if (!root)
        return;
    SCList<Widget>& list = root->widgets;
    if (node) {
        list.unlink(node);
        node = nullptr;
    }
    SCList<Widget>::Node* head = list.head();
    if (!head) {
        node = list.append(this);
        return;
    }
    // The largest layer starts from the head's: a list of negative layers
    // must not be taken for one below 0.
    int32_t largest = head->item->layer;
    for (SCList<Widget>::Node* n = head; n; n = n->next) {
        const int32_t l = n->item->layer;
        if (l > largest)
            largest = l;
        if (l == newLayer || (l < newLayer && n->next && n->next->item->layer > newLayer)) {
            node = list.insertAfter(n, this);
            return;
        }
    }
    node = newLayer > largest ? list.append(this) : list.prepend(this);
}

void Widget::fadeIn()
{
    fadeMode = fadeInMode;
    opacity = float(colour.a) / 255.0f;
    enable();
}

void Widget::fadeOut()
{
    fadeMode = fadeOutMode;
    opacity = float(colour.a) / 255.0f;
}

void Widget::draw()
{
    if (fadeMode == fadeNone || (root && !root->fadesAdvance))
        return;
    const float step = fadeSpeed * gFrameFactor.load();
    if (fadeMode == fadeInMode) {
        opacity += step;
        if (opacity >= targetOpacity) {
            opacity = targetOpacity;
            fadeMode = fadeNone;
        }
    } else {
        opacity -= step;
        if (opacity <= 0.0f) {
            opacity = 0.0f;
            fadeMode = fadeNone;
            disable();
        }
    }
    colour.a = uint8_t(opacity * 255.0f);
    if (root)
        root->changed = 1;
}

void Widget::followAttached(Widget& to, int32_t& savedX, int32_t& savedY)
{
    savedX = x;
    savedY = y;
    const Rect base = to.getRect();
    x += base.left;
    y += base.top;
    colour.a = to.colour.a;
    enabled = to.enabled;
}

}
