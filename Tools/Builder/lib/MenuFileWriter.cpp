#include "MenuFileWriter.h"

#include "Core/FileArray.h"
#include "Core/MenuFile.h"

#include <string>

namespace MenuFileWriter {

namespace {

bool writeU32(FileInterface& target, uint32_t value)
{
    return target.writeValue(value);
}

bool writeBlock(FileInterface& target, const std::vector<uint8_t>& bytes)
{
    if (bytes.size() > 0xFFFFFFFFull)
        return false;
    const uint32_t size = uint32_t(bytes.size());
    return writeU32(target, size) && (size == 0 || target.write(bytes.data(), size) == size);
}

bool writePage(FileInterface& target, const Page& page)
{
    bool ok = writeU32(target, MenuFile::pageImage) && writeBlock(target, page.image) &&
              writeU32(target, MenuFile::pageValue) && writeU32(target, page.value);
    if (ok && !page.extra.empty())
        ok = writeU32(target, MenuFile::pageExtra) && writeBlock(target, page.extra);
    return ok && writeU32(target, MenuFile::end);
}

bool writeSound(FileInterface& target, const Sound& sound, int index)
{
    if (sound.file.empty())
        return true;
    return writeU32(target, MenuFile::optionTags[index]) && writeU32(target, sound.type) &&
           writeU32(target, MenuFile::blockTags[index]) && writeBlock(target, sound.file);
}

}

bool write(FileInterface& target, const Menu& menu)
{
    bool ok = writeU32(target, menu.header) && writeSound(target, menu.sounds[0], 0);
    if (ok && !menu.extra.empty())
        ok = writeU32(target, MenuFile::extraBlock) && writeBlock(target, menu.extra);
    for (int i = 0; ok && i < 3; ++i) {
        ok = writeU32(target, MenuFile::intro0 + uint32_t(i)) && writeU32(target, menu.pages[i].present ? 1 : 0);
        if (ok && menu.pages[i].present)
            ok = writePage(target, menu.pages[i]);
    }
    if (ok)
        ok = writeU32(target, MenuFile::mainScreen) && writeU32(target, menu.main ? 1 : 0);
    if (ok && menu.main) {
        for (uint32_t i = 0; ok && i < 4; ++i)
            ok = writeU32(target, MenuFile::mainValue1 + i) && writeU32(target, menu.mainValues[i]);
        ok = ok && writeU32(target, MenuFile::mainQuadPackage) &&
             target.writeString(String(std::wstring(menu.quadPackage.begin(), menu.quadPackage.end()).c_str())) && writeU32(target, MenuFile::end);
    }
    ok = ok && writeU32(target, MenuFile::chooseMapScreen) && writeU32(target, menu.chooseMap ? 1 : 0);
    if (ok && !menu.logo.empty())
        ok = writeU32(target, MenuFile::logoBlock) && writeBlock(target, menu.logo);
    ok = ok && writeU32(target, MenuFile::gameModeScreen) && writeU32(target, menu.gameMode ? 1 : 0);
    if (ok && menu.gameMode)
        ok = writeU32(target, MenuFile::end);
    for (int i = 1; ok && i < 4; ++i)
        ok = writeSound(target, menu.sounds[i], i);
    return ok && writeU32(target, MenuFile::end);
}

bool save(const Menu& menu, const String& path)
{
    FileArray bytes(1 << 16);
    return write(bytes, menu) && FileInterface::saveToFile(bytes, path);
}

}
