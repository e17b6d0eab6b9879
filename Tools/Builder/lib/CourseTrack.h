#pragma once

#include "Core/Vector.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace MapGenerator {

// Where along an open or closed polyline a distance lies: the point and
// the direction of travel there.
class Track
{
public:
    Track(const std::vector<std::pair<float, float>>& corners, bool closed) : points_(corners)
    {
        if (closed && !points_.empty())
            points_.push_back(points_.front());
        lengths_.push_back(0.0f);
        for (size_t i = 1; i < points_.size(); ++i)
            lengths_.push_back(lengths_.back() + std::hypot(points_[i].first - points_[i - 1].first,
                                                            points_[i].second - points_[i - 1].second));
        closed_ = closed;
    }
    float length() const { return lengths_.back(); }
    float cornerDistance(size_t i) const { return lengths_[std::min(i, lengths_.size() - 1)]; }

    struct Place
    {
        float x, z;   // on the course
        float dx, dz; // the direction of travel
        // A point beside it: right of the travel direction for side > 0.
        std::pair<float, float> beside(float side) const { return {x + dz * side, z - dx * side}; }
        float heading() const { return std::atan2(dx, dz) * 180.0f / 3.14159265f; }
    };

    Place at(float s) const
    {
        float t = 0.0f;
        const size_t i = pieceAt(s, t);
        const auto& p = points_[i - 1];
        const auto& q = points_[i];
        const float len = std::max(lengths_[i] - lengths_[i - 1], 1e-3f);
        return {p.first + (q.first - p.first) * t, p.second + (q.second - p.second) * t, (q.first - p.first) / len,
                (q.second - p.second) / len};
    }

    // The place on the road's own curve beside at(s): the way through the
    // course's corners bends between them (as the game shapes a way: a
    // cubic from each corner to the next whose inner control points lie a
    // third of the chord along the chords from the corners before and
    // after), so in a bend its middle lies off the straight line.
    Place onRoad(float s) const
    {
        float t = 0.0f;
        const size_t i = pieceAt(s, t);
        const auto point = [this](size_t k) { return vec3d(points_[k].first, 0.0f, points_[k].second); };
        const vec3d p0 = point(i - 1), p3 = point(i);
        const vec3d previous = i >= 2 ? point(i - 2) : p0, next = i + 1 < points_.size() ? point(i + 1) : p3;
        const float third = (p3 - p0).length() / 3.0f;
        const vec3d t0 = p3 - previous, t1 = next - p0;
        const vec3d c1 = t0.lengthSq() > 0.0f ? p0 + t0 * (third / t0.length()) : p0;
        const vec3d c2 = t1.lengthSq() > 0.0f ? p3 - t1 * (third / t1.length()) : p3;
        const float u = 1.0f - t;
        const vec3d at = p0 * (u * u * u) + c1 * (3.0f * u * u * t) + c2 * (3.0f * u * t * t) + p3 * (t * t * t);
        const vec3d d = (c1 - p0) * (3.0f * u * u) + (c2 - c1) * (6.0f * u * t) + (p3 - c2) * (3.0f * t * t);
        const vec3d direction = d.lengthSq() > 0.0f ? d.normalised() : (p3 - p0).normalised();
        return {at.x, at.z, direction.x, direction.z};
    }

    // The distance from (x, z) to the nearest point of the course.
    float distance(float x, float z) const
    {
        float nx, nz;
        return nearest(x, z, nx, nz);
    }
    // The same distance, and that nearest point (nx, nz).
    float nearest(float x, float z, float& nx, float& nz) const
    {
        float best = 1e30f;
        nx = x;
        nz = z;
        for (size_t i = 1; i < points_.size(); ++i) {
            const float ax = points_[i - 1].first, az = points_[i - 1].second;
            const float bx = points_[i].first - ax, bz = points_[i].second - az;
            const float lengthSq = bx * bx + bz * bz;
            float t = lengthSq > 0.0f ? ((x - ax) * bx + (z - az) * bz) / lengthSq : 0.0f;
            t = std::clamp(t, 0.0f, 1.0f);
            const float d = std::hypot(x - ax - bx * t, z - az - bz * t);
            if (d < best) {
                best = d;
                nx = ax + bx * t;
                nz = az + bz * t;
            }
        }
        return best;
    }
    // How far the course between distances a and b (a below b) strays from
    // the straight line between its points there.
    float strayFromLine(float a, float b) const
    {
        const Place p = at(a), q = at(b);
        const float bx = q.x - p.x, bz = q.z - p.z;
        const float lengthSq = bx * bx + bz * bz;
        float worst = 0.0f;
        for (float s = a; s < b; s += 5.0f) {
            const Place r = at(s);
            float t = lengthSq > 0.0f ? ((r.x - p.x) * bx + (r.z - p.z) * bz) / lengthSq : 0.0f;
            t = std::clamp(t, 0.0f, 1.0f);
            worst = std::max(worst, std::hypot(r.x - p.x - bx * t, r.z - p.z - bz * t));
        }
        return worst;
    }

private:
    // The piece of the line that distance s lies on (its end point's index)
    // and how far along it, 0 to 1.
    size_t pieceAt(float s, float& t) const
    {
        const float total = length();
        if (closed_ && total > 0.0f)
            s = std::fmod(std::fmod(s, total) + total, total);
        s = std::clamp(s, 0.0f, total);
        size_t i = 1;
        while (i + 1 < lengths_.size() && lengths_[i] < s)
            ++i;
        const float a = lengths_[i - 1], b = lengths_[i];
        t = b > a ? (s - a) / (b - a) : 0.0f;
        return i;
    }

    std::vector<std::pair<float, float>> points_;
    std::vector<float> lengths_;
    bool closed_ = true;
};

}
