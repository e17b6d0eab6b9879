# libogg and libvorbis, compiled as static libraries from Debian's source
# packages that scripts/setup.sh fetches into third_party/ (not in git).
# The game decodes through vorbisfile; the content builder encodes through
# vorbisenc. Their own build files are not used: they would add their tests
# and install rules to ours.
set(KORVANTA_THIRD_PARTY_DIR ${CMAKE_SOURCE_DIR}/third_party CACHE PATH "Unpacked libogg and libvorbis sources")
file(GLOB ogg_dirs LIST_DIRECTORIES true ${KORVANTA_THIRD_PARTY_DIR}/libogg-*)
file(GLOB vorbis_dirs LIST_DIRECTORIES true ${KORVANTA_THIRD_PARTY_DIR}/libvorbis-*)
list(FILTER ogg_dirs INCLUDE REGEX "/libogg-[0-9.]+$")
list(FILTER vorbis_dirs INCLUDE REGEX "/libvorbis-[0-9.]+$")
if(NOT ogg_dirs OR NOT vorbis_dirs)
  message(FATAL_ERROR "The libogg and libvorbis sources are missing from ${KORVANTA_THIRD_PARTY_DIR}: run scripts/setup.sh")
endif()
list(GET ogg_dirs -1 OGG_DIR)
list(GET vorbis_dirs -1 VORBIS_DIR)

# What libogg's configure step would write for a 64-bit Windows target.
set(ogg_generated ${CMAKE_BINARY_DIR}/third_party/ogg/include)
file(MAKE_DIRECTORY ${ogg_generated}/ogg)
file(WRITE ${ogg_generated}/ogg/config_types.h.new
"#ifndef __CONFIG_TYPES_H__
#define __CONFIG_TYPES_H__
#include <stdint.h>
typedef int16_t ogg_int16_t;
typedef uint16_t ogg_uint16_t;
typedef int32_t ogg_int32_t;
typedef uint32_t ogg_uint32_t;
typedef int64_t ogg_int64_t;
typedef uint64_t ogg_uint64_t;
#endif
")
file(COPY_FILE ${ogg_generated}/ogg/config_types.h.new ${ogg_generated}/ogg/config_types.h ONLY_IF_DIFFERENT)

add_library(ogg STATIC ${OGG_DIR}/src/bitwise.c ${OGG_DIR}/src/framing.c)
target_include_directories(ogg SYSTEM PUBLIC ${OGG_DIR}/include ${ogg_generated})

set(vorbis_sources mdct smallft block envelope window lsp lpc analysis synthesis psy info floor1 floor0 res0
                   mapping0 registry codebook sharedbook lookup bitrate)
list(TRANSFORM vorbis_sources PREPEND ${VORBIS_DIR}/lib/)
list(TRANSFORM vorbis_sources APPEND .c)
add_library(vorbis STATIC ${vorbis_sources})
target_include_directories(vorbis SYSTEM PUBLIC ${VORBIS_DIR}/include PRIVATE ${VORBIS_DIR}/lib)
target_link_libraries(vorbis PUBLIC ogg)

add_library(vorbisfile STATIC ${VORBIS_DIR}/lib/vorbisfile.c)
target_link_libraries(vorbisfile PUBLIC vorbis)

add_library(vorbisenc STATIC ${VORBIS_DIR}/lib/vorbisenc.c)
target_include_directories(vorbisenc PRIVATE ${VORBIS_DIR}/lib)
target_link_libraries(vorbisenc PUBLIC vorbis)

# Third-party code keeps its own style: no warnings of ours.
foreach(lib ogg vorbis vorbisfile vorbisenc)
  target_compile_options(${lib} PRIVATE -w)
endforeach()
