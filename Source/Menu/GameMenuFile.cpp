// The menu file "Data\Menu\Menu.mnu": a u32 header, then tagged records
// until tag 0 or the end of the data (see MenuFile.h for the tags).
#include "Menu/GameMenu.h"

#include "Menu/GameMenuIntro.h"
#include "Menu/GameMenuScreen.h"
#include "Application/Globals.h"

#include "Audio/AudioFile.h"

#include "Core/AudioFileRef.h"
#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"
#include "Core/MenuFile.h"
#include "Core/ResourceManager.h"

namespace {

// The Main block: tags 1 to 4 a u32 each, tag 5 the quad package's name.
void readMainBlock(FileInterface& stream, GameMenu::MainBlock& block)
{
    uint32_t tag = 0;
    while (stream.readTag(tag)) {
        if (tag >= MenuFile::mainValue1 && tag <= MenuFile::mainValue4) {
            if (!stream.readValue(block.values[tag - MenuFile::mainValue1]))
                return;
        } else if (tag == MenuFile::mainQuadPackage) {
            String name;
            if (!stream.readString(name))
                return;
            block.quadPackage = name;
        }
    }
}

// The GameMode block carries no fields: its tags run to a 0.
void skipGameModeBlock(FileInterface& stream)
{
    uint32_t tag = 0;
    while (stream.readTag(tag)) {
    }
}

}

void GameMenu::load(const String& path)
{
    CRASH_TRACE();
    const String filePath = path.length() > 0 ? path : menuFile;
    if (filePath.length() == 0)
        return;
    FileInterface* stream = openFile(filePath, 0, 1, 1);

    // The faces are made once and kept: the font keeps every face it made.
    if (!fonts[0]) {
        if (UserInterface::UIFont* font = UserInterface::UIFont::global()) {
            const struct
            {
                const wchar_t* name;
                int32_t points;
            } faces[fontCount] = {{L"Trebuchet MS", 24},
                                  {L"Trebuchet MS", 19},
                                  {L"Arial", 24},
                                  {L"Trebuchet MS", 18},
                                  {L"Trebuchet MS", 40}};
            for (int i = 0; i < fontCount; ++i)
                fonts[i] = font->createFace(String(faces[i].name), faces[i].points, 700, 0, -1, intvec2d{0, 0}, 0.3f,
                                            0);
        }
    }

    uint32_t soundOption[4] = {};
    if (stream && stream->isOpen) {
        uint32_t header = 0;
        if (stream->readValue(header)) {
            uint32_t tag = 0;
            while (stream->readTag(tag)) {
                const int32_t optionSound = MenuFile::optionSoundOf(tag);
                const int32_t blockSound = MenuFile::blockSoundOf(tag);
                if (optionSound >= 0) {
                    if (!stream->readValue(soundOption[optionSound]))
                        break;
                    // Kept in whatever order the records come; a block read
                    // before it keeps the option it was made with.
                    soundTypes[optionSound] = soundOption[optionSound];
                } else if (blockSound >= 0) {
                    // The old reference reads this stream: it goes first.
                    releaseSound(blockSound);
                    if (!FileInterface::copyBlockTo(*stream, soundStreams[blockSound]))
                        break;
                    soundTypes[blockSound] = soundOption[blockSound];
                    String name;
                    name.makeRandom(10);
                    sounds[blockSound] =
                        new Audio::FileRef(&soundStreams[blockSound], soundTypes[blockSound], name, 1);
                } else if (tag == MenuFile::extraBlock) {
                    if (!FileInterface::copyBlockTo(*stream, tag3Block))
                        break;
                } else if (tag >= MenuFile::intro0 && tag <= MenuFile::intro2) {
                    uint32_t flag = 0;
                    if (!stream->readValue(flag))
                        break;
                    if (flag) {
                        if (Intro* page = createIntro(int32_t(tag - MenuFile::intro0)))
                            page->read(*stream);
                    }
                } else if (tag == MenuFile::mainScreen) {
                    uint32_t flag = 0;
                    if (!stream->readValue(flag))
                        break;
                    if (flag) {
                        mainBlock = MainBlock();
                        readMainBlock(*stream, mainBlock);
                        createMain();
                    }
                } else if (tag == MenuFile::chooseMapScreen) {
                    uint32_t flag = 0;
                    if (!stream->readValue(flag))
                        break;
                    if (flag)
                        createChooseMap();
                } else if (tag == MenuFile::logoBlock) {
                    if (!FileInterface::copyBlockTo(*stream, tag9Block))
                        break;
                } else if (tag == MenuFile::gameModeScreen) {
                    uint32_t flag = 0;
                    if (!stream->readValue(flag))
                        break;
                    if (flag) {
                        skipGameModeBlock(*stream);
                        createGameMode();
                    }
                }
            }
        }
    }

    // The applause of the resource file; a reload makes it anew.
    if (applauseSound) {
        applauseSound->release();
        delete applauseSound;
        applauseSound = nullptr;
    }
    if (gResourceManager)
        applauseSound = ResourceManager::createSoundSource(gResourceManager->find(String(L"SNDApplause")));

    if (stream)
        stream->close();
    menuFile = filePath;

    createExit();
    createSettings();
    createControl();
    if (!extendedControlScreen)
        showExtendedControl(true);
    createGraphics();
    createLanguage();
    createMyQuad();
    createChooseCountry();
}
