#include "Core/RectList.h"

#include <algorithm>
#include <new>

bool RectList::add(const Rect& rect)
{
    return appendTo(lists_[current_], rect);
}

bool RectList::appendTo(SCList<Rect>& list, const Rect& rect)
{
    Rect* copy = new (std::nothrow) Rect(rect);
    if (copy && list.append(copy))
        return true;
    delete copy;
    return false;
}

void RectList::subtract(const Rect& r)
{
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    SCList<Rect>& from = lists_[current_];
    SCList<Rect>& to = lists_[1 - current_];
    for (auto* node = from.head(); node; node = node->next) {
        Rect* rect = node->item;
        if (!rect)
            continue;
        const bool overlapping = r.left < rect->right && r.right > rect->left && r.top < rect->bottom
            && r.bottom > rect->top;
        if (!overlapping) {
            if (to.append(rect))
                node->item = nullptr; // moved
            continue;
        }
        const int32_t rowTop = std::max(rect->top, r.top);
        const int32_t rowBottom = std::min(rect->bottom, r.bottom);
        if (r.top > rect->top)
            appendTo(to, {rect->left, rect->top, rect->right, r.top});
        if (r.left > rect->left)
            appendTo(to, {rect->left, rowTop, r.left, rowBottom});
        if (r.right < rect->right)
            appendTo(to, {r.right, rowTop, rect->right, rowBottom});
        if (r.bottom < rect->bottom)
            appendTo(to, {rect->left, r.bottom, rect->right, rect->bottom});
    }
    // Items still in the old list are the ones cut up (or not moved).
    from.clear(true);
    current_ = 1 - current_;
}

void RectList::clear()
{
    lists_[0].clear(true);
    lists_[1].clear(true);
    current_ = 0;
}
