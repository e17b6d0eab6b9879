#pragma once
// Resource ids of the editing pages' dialog templates. The content builder
// writes the templates under these ids (DialogTemplateWriter); the pages
// open them through Template::create. The control ids inside each template
// are the pages' own.

#include <cstdint>

namespace DialogPages
{
constexpr uint16_t collect = 3001;
constexpr uint16_t gate = 3002;
constexpr uint16_t oilPuddle = 3003;
constexpr uint16_t fire = 3004;
constexpr uint16_t rocket = 3005;
constexpr uint16_t cloths = 3006;
constexpr uint16_t bush = 3007;
constexpr uint16_t lensFlare = 3008;
constexpr uint16_t spin = 3009;
constexpr uint16_t inventory = 3010;
constexpr uint16_t quad = 3011;
// The tree parameter dialog and the child page of each of its four levels.
constexpr uint16_t tree = 3012;
constexpr uint16_t treeLevel = 3013;

// The sliders of the tree dialog's pages, in binding order. Each takes the
// next trackbar ids (one per component, from firstTrackbar) and the next
// label id (from firstLabel).
namespace TreeSliders
{
enum Kind : uint8_t { real, whole, pair, triple };
constexpr int32_t components(Kind kind)
{
    return kind == pair ? 2 : kind == triple ? 3 : 1;
}
constexpr Kind tree[] = {triple, triple, real,  real,  real,  real,  real, real,  real,  real,  whole,
                         whole,  real,   real,  real,  real,  real,  whole, real, real,  real,  real,
                         real,   whole,  whole, whole, real,  real,  real,  real, pair,  pair,  real,
                         real,   real,   real,  real,  whole};
constexpr Kind level[] = {triple, triple, whole, real, real, real, real, real, real, real, pair, pair, pair};
constexpr int32_t firstTrackbar = 2001;
constexpr int32_t firstLabel = 2201;
// The tree page's other controls; 1176, 1016 and 1177 are on each level page.
constexpr int32_t foliageList = 1190;
constexpr int32_t levelChecks[3] = {1176, 1016, 1177};
} // namespace TreeSliders
} // namespace DialogPages
