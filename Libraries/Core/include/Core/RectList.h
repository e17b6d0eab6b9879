#pragma once

#include "Core/SCList.h"

#include <cstdint>

// A list of free rectangles (an atlas's unused texels) from which used
// rectangles are cut away. Edges are coordinates, right and bottom
// exclusive, so rectangles that share an edge do not overlap. Rectangles
// added to the list are expected not to overlap one another; subtract keeps
// it that way.
class RectList
{
public:
    struct Rect
    {
        int32_t left;
        int32_t top;
        int32_t right;
        int32_t bottom;
    };

    RectList() = default;
    RectList(const RectList&) = delete;
    RectList& operator=(const RectList&) = delete;
    ~RectList() { clear(); }

    // Appends a copy of rect. False when memory ran out (nothing was added).
    bool add(const Rect& rect);

    // Removes the area of r from the list. Every rectangle that overlaps r is
    // replaced, in its place in the list, by the up to four pieces around r:
    // the full-width band above r, the pieces left and right of r within r's
    // rows, and the full-width band below r. Other rectangles are kept as
    // they are. Should memory run out, pieces are dropped: free space may be
    // lost but covered space is never listed.
    void subtract(const Rect& r);

    // Frees every rectangle.
    void clear();

    // The rectangles in list order (the order a first-fit search walks).
    const SCList<Rect>& rects() const { return lists_[current_]; }

private:
    static bool appendTo(SCList<Rect>& list, const Rect& rect);

    // The current list and the one the next subtract builds.
    SCList<Rect> lists_[2];
    int current_ = 0;
};
