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
} // namespace DialogPages
