#pragma once

#include "Core/PixelFormat.h"
#include "Core/Surface.h"
#include "Core/Surface2d.h"

#include <concepts>
#include <cstddef>
#include <new>

// An image kept as one block of width x height elements, row after row:
// element (x, y) is pixels[y * width + x]. The block is either owned (made by
// resize, freed by the surface) or borrowed from the caller.
// An allocation failure leaves the image empty (no pixels, sizes -1).
template <class T>
class surface1d : public surface
{
public:
    surface1d() : surface(enumFormat<T>::value) {}

    // With `external` the surface uses that block of w x h elements without
    // owning it; otherwise it allocates a zeroed one.
    surface1d(int32_t w, int32_t h, T* external = nullptr) : surface(enumFormat<T>::value)
    {
        if (external) {
            if (w >= 1 && h >= 1) {
                pixels = external;
                setSize(w, h);
            }
        } else {
            resize(w, h);
        }
    }

    explicit surface1d(const surface2d<Color>& source)
        requires std::same_as<T, Color>
        : surface(enumFormat<T>::value)
    {
        if (!source.columns || !resize(source.width, source.height))
            return;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                pixels[size_t(y) * width + x] = source.columns[x][y];
    }

    surface1d(const surface1d&) = delete;
    surface1d& operator=(const surface1d&) = delete;

    surface1d(surface1d&& other) noexcept : surface(other), pixels(other.pixels), sampleValue(other.sampleValue)
    {
        other.pixels = nullptr;
        other.setEmptySize();
    }

    surface1d& operator=(surface1d&& other) noexcept
    {
        if (this != &other) {
            release();
            surface::operator=(other);
            pixels = other.pixels;
            sampleValue = other.sampleValue;
            other.pixels = nullptr;
            other.setEmptySize();
        }
        return *this;
    }

    ~surface1d() override { release(); }

    // Ignored unless both sides are 1 to maxSide; keeps the pixels when the size
    // is unchanged. Returns true when the surface holds pixels of that size.
    bool resize(int32_t w, int32_t h)
    {
        if (w < 1 || h < 1 || w > maxSide || h > maxSide)
            return false;
        if (pixels && w == width && h == height)
            return true;
        release();
        pixels = new (std::nothrow) T[size_t(w) * size_t(h)]();
        if (!pixels)
            return false;
        setSize(w, h);
        ownsPixels = 1;
        return true;
    }

    // Frees an owned block and empties the surface.
    void release()
    {
        if (ownsPixels)
            delete[] pixels;
        pixels = nullptr;
        setEmptySize();
    }

    size_t count() const { return pixels ? size_t(width) * size_t(height) : 0; }

    T* row(int32_t y) { return pixels + size_t(y) * size_t(width); }
    const T* row(int32_t y) const { return pixels + size_t(y) * size_t(width); }

    // Bilinear sample at (u, v); the result is also kept in sampleValue.
    Color sample()
        requires std::same_as<T, Color>
    {
        sampleValue = sampleBlock(pixels);
        return sampleValue;
    }

    // Resamples to newWidth x newHeight with the bilinear sampler. With a target
    // the result goes there and this image stays; without one it replaces this
    // image (nothing happens when the size is already right). flipVertical turns
    // the rows over on the way.
    void resample(int32_t newWidth, int32_t newHeight, bool flipVertical, surface1d<Color>* target = nullptr)
        requires std::same_as<T, Color>
    {
        if (target == this)
            target = nullptr;
        if (!target && newWidth == width && newHeight == height)
            return;
        if (!pixels)
            return;
        surface1d<Color> temporary;
        surface1d<Color>& dest = target ? *target : temporary;
        if (!dest.resize(newWidth, newHeight))
            return;
        Color* out = dest.pixels;
        for (int32_t y = 0; y < newHeight; ++y) {
            const int32_t r = flipVertical ? newHeight - 1 - y : y;
            v = float(r) / float(newHeight);
            for (int32_t x = 0; x < newWidth; ++x) {
                u = float(x) / float(newWidth);
                *out++ = sample();
            }
        }
        if (!target) {
            release();
            pixels = temporary.pixels;
            temporary.pixels = nullptr;
            temporary.setEmptySize();
            setSize(newWidth, newHeight);
            ownsPixels = 1;
        }
    }

    // Resizes to the source's size and converts every pixel to this type.
    template <class S>
    void convertFrom(const surface1d<S>& source)
    {
        if (!source.pixels || !resize(source.width, source.height))
            return;
        const size_t n = count();
        for (size_t i = 0; i < n; ++i)
            pixels[i] = convertColor<T>(source.pixels[i]);
    }

    void convertFromColor(const surface1d<Color>& source) { convertFrom(source); }

    T* pixels = nullptr;
    T sampleValue{};
};
