// The sample level: a valley between hills, seen at midday.
#include "LandscapeSample.h"

#include "ImageFileWriter.h"
#include "LevelFileWriter.h"

#include <cmath>

namespace {

// The map list's picture: a green valley floor between brown slopes under a
// blue sky (64 x 64, sides a multiple of 4 as the list's compressed copy needs).
std::vector<uint8_t> previewImage()
{
    ImageFileWriter::Image image;
    image.width = 64;
    image.height = 64;
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            const float across = (float(x) - 31.5f) / 31.5f;
            const float ridge = 20.0f + 14.0f * across * across;
            uint32_t colour = 0xFF6FA8DCu; // sky
            if (float(y) > ridge)
                colour = float(y) > 44.0f - 6.0f * std::fabs(across) ? 0xFF4E8A3Au : 0xFF8A6E4Bu;
            image.argb.push_back(colour);
        }
    return ImageFileWriter::png(image);
}

}

bool writeLandscapeSample(const String& root)
{
    LevelFileWriter::Level valley;
    valley.name = String(L"Valley");
    valley.description = String(L"Hills around a green valley");
    valley.preview = previewImage();
    valley.courseType = 1;
    valley.timeOfDay = 12.5f;
    valley.animatedSky = 1;
    valley.terrain.barrierFlag = 1;
    valley.camera.position[1] = 100.0f;
    return LevelFileWriter::save(valley, root + L"Data\\Map\\Valley.tee");
}
