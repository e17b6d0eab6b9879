#pragma once

#include "Core/PixelFormat.h"
#include "Core/Surface.h"

#include <cstddef>
#include <new>
#include <utility>

// An image kept as a table of `width` column pointers, each column `height`
// elements: element (x, y) is columns[x][y]. The columns share one block.
// Resizing never keeps the old pixels; an allocation failure leaves the image
// empty (no columns, sizes -1).
template <class T>
class surface2d : public surface
{
public:
    surface2d() : surface(enumFormat<T>::value) {}

    // With allocate the image is made (zeroed); without it only the size is
    // recorded and the image has no columns until the next resize.
    surface2d(int32_t w, int32_t h, bool allocate) : surface(enumFormat<T>::value)
    {
        if (allocate)
            resize(w, h);
        else if (w >= 1 && h >= 1)
            setSize(w, h);
    }

    surface2d(const surface2d&) = delete;
    surface2d& operator=(const surface2d&) = delete;

    surface2d(surface2d&& other) noexcept : surface(other) { take(other); }

    surface2d& operator=(surface2d&& other) noexcept
    {
        if (this != &other) {
            free();
            surface::operator=(other);
            take(other);
        }
        return *this;
    }

    ~surface2d() override { free(); }

    // Ignored unless both sides are 1 to maxSide; nothing happens when the size
    // is unchanged and columns exist. Returns true when the image has columns
    // of the asked size afterwards.
    bool resize(int32_t w, int32_t h)
    {
        if (w < 1 || h < 1 || w > maxSide || h > maxSide)
            return false;
        if (columns && w == width && h == height)
            return true;
        free();
        T* block = new (std::nothrow) T[size_t(w) * size_t(h)]();
        T** table = block ? new (std::nothrow) T*[size_t(w)] : nullptr;
        if (!table) {
            delete[] block;
            return false;
        }
        for (int32_t x = 0; x < w; ++x)
            table[x] = block + size_t(x) * size_t(h);
        block_ = block;
        columns = table;
        setSize(w, h);
        ownsPixels = 1;
        return true;
    }

    void free()
    {
        if (ownsPixels) {
            delete[] columns;
            delete[] block_;
        }
        columns = nullptr;
        block_ = nullptr;
        setEmptySize();
    }

    void fill(const T& value)
    {
        if (!columns)
            return;
        for (int32_t x = 0; x < width; ++x)
            for (int32_t y = 0; y < height; ++y)
                columns[x][y] = value;
    }

    bool contains(int32_t x, int32_t y) const
    {
        return columns && x >= 0 && y >= 0 && x < width && y < height;
    }

    T** columns = nullptr;

private:
    void take(surface2d& other)
    {
        columns = other.columns;
        block_ = other.block_;
        other.columns = nullptr;
        other.block_ = nullptr;
        other.setEmptySize();
    }

    T* block_ = nullptr;
};
