// The triangles of one patch at a level of detail, stitched on its high-z
// edge (row 0, shared with the left neighbour) and its low-x edge (column 0,
// shared with the lower neighbour) to neighbours one level coarser or finer.
// Rows run against z from the high-z edge, columns along x.
#include "Landscape/Terrain.h"

namespace {

struct GridPoint
{
    int32_t row;
    int32_t column;
};

// Edge spacing for a stitch flag: 0 a coarser neighbour, 1 the same, 2 a finer
// one; never below a fine cell or beyond the patch (the coarsest level joins
// a coarser neighbour with its own corners only).
int32_t edgeSpacing(int32_t step, int32_t flag)
{
    const int32_t t = flag == 0 ? 2 * step : flag == 2 ? step / 2 : step;
    return t < 1 ? 1 : t > Terrain::patchCells ? Terrain::patchCells : t;
}

// Position of a ring point along the L from the far end of the low-x edge
// (row 32) through the corner to the far end of the high-z edge (column 32).
// The inner ring's corner sits at the outer corner's position.
int32_t outerPosition(const GridPoint& p) { return p.column == 0 ? 32 - p.row : 32 + p.column; }

int32_t innerPosition(const GridPoint& p, int32_t step)
{
    if (p.row == step && p.column == step)
        return 32;
    return p.column == step ? 32 - p.row : 32 + p.column;
}

}

void Terrain::triangulate(int32_t level, int32_t lowerFlag, int32_t leftFlag, std::vector<uint16_t>& points,
                          std::vector<uint16_t>& indices)
{
    const int32_t s = 1 << level;
    const int32_t tLeft = edgeSpacing(s, leftFlag);   // along the row-0 edge
    const int32_t tLower = edgeSpacing(s, lowerFlag); // along the column-0 edge
    points.clear();
    indices.clear();
    int32_t vertexOf[gridPoints][gridPoints];
    for (auto& row : vertexOf)
        for (int32_t& v : row)
            v = -1;
    auto add = [&](int32_t row, int32_t column) {
        if (vertexOf[row][column] >= 0)
            return;
        vertexOf[row][column] = int32_t(points.size());
        points.push_back(uint16_t(row * gridPoints + column));
    };
    for (int32_t row = s; row <= patchCells; row += s)
        for (int32_t column = s; column <= patchCells; column += s)
            add(row, column);
    for (int32_t column = 0; column <= patchCells; column += tLeft)
        add(0, column);
    for (int32_t row = tLower; row <= patchCells; row += tLower)
        add(row, 0);

    // Every triangle turns the same way seen from above: counter-clockwise
    // with x to the right and z upward.
    auto triangle = [&](GridPoint a, GridPoint b, GridPoint c) {
        const int64_t area = int64_t(b.column - a.column) * (a.row - c.row) - int64_t(a.row - b.row) * (c.column - a.column);
        if (area == 0)
            return;
        if (area < 0)
            std::swap(b, c);
        for (const GridPoint& p : {a, b, c})
            indices.push_back(uint16_t(vertexOf[p.row][p.column]));
    };

    // Inner cells: two triangles split from the (low x, high z) corner to the
    // (high x, low z) corner, as the height query splits its cells.
    for (int32_t r = s; r < patchCells; r += s)
        for (int32_t c = s; c < patchCells; c += s) {
            triangle({r + s, c}, {r + s, c + s}, {r, c});
            triangle({r, c}, {r + s, c + s}, {r, c + s});
        }

    // The ring of edge cells: a zipper between the outer chain (the two
    // stitched edges) and the inner chain (column s and row s).
    std::vector<GridPoint> outer, inner;
    for (int32_t row = patchCells; row >= 0; row -= tLower)
        outer.push_back({row, 0});
    for (int32_t column = tLeft; column <= patchCells; column += tLeft)
        outer.push_back({0, column});
    for (int32_t row = patchCells; row >= s; row -= s)
        inner.push_back({row, s});
    for (int32_t column = 2 * s; column <= patchCells; column += s)
        inner.push_back({s, column});
    size_t o = 0, i = 0;
    while (o + 1 < outer.size() || i + 1 < inner.size()) {
        bool advanceOuter;
        if (o + 1 >= outer.size()) {
            advanceOuter = false;
        } else if (i + 1 >= inner.size()) {
            advanceOuter = true;
        } else {
            const int32_t nextOuter = outerPosition(outer[o + 1]), nextInner = innerPosition(inner[i + 1], s);
            // On a tie the cell is split like an inner cell: along the low-x
            // edge the outer chain goes first, elsewhere the inner one.
            advanceOuter = nextOuter < nextInner || (nextOuter == nextInner && nextOuter < 32);
        }
        if (advanceOuter) {
            triangle(outer[o], outer[o + 1], inner[i]);
            ++o;
        } else {
            triangle(outer[o], inner[i], inner[i + 1]);
            ++i;
        }
    }
}
