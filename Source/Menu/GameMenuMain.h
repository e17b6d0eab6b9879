#pragma once
// The main screen (menu state 4): a column of seven buttons on the left and,
// at the bottom right, the showroom, where the player's quad turns on a
// mirrored turntable and can be turned by dragging it with the mouse.

#include "Menu/GameMenuScreen.h"
#include "Menu/Mirror.h"

#include "Application/ControlBindings.h"

#include "Core/Matrix.h"
#include "Core/Paint.h"

#include <TextureRecord.h>

#include <d3d9.h>

#include <cstdint>

class Object;

class GameMenu::Main : public GameMenu::Screen
{
public:
    class Showroom;

    // The button ids, their keys and places.
    enum ButtonId : int32_t {
        donate = 1,
        myQuad = 2,
        championship = 3,
        soloGame = 4,
        getMoreMaps = 6,
        settings = 7,
        exit = 8,
    };
    static constexpr int32_t buttonSlots = 8;

    // Opens a web page through the shell; true when the shell took it. Tests
    // put a recorder in.
    using PageOpener = bool (*)(const String& address);
    static PageOpener openPage;
    static bool shellOpen(const String& address);

    // Takes the values and the quad package's name of the menu file's main
    // block (GameMenu::mainBlock).
    explicit Main(GameMenu& menu);
    ~Main() override;

    void enter(int32_t returnState) override;
    void onKeyUp() override;
    void onKeyDown() override;
    void onKeyConfirm() override;
    // Back leads to the exit question.
    void onKeyBack() override;
    int32_t nextScreen() override;
    void close() override;
    void onLeftButtonDown() override;
    void onLeftButtonUp() override;
    void onViewChanged() override;
    void update() override;
    void draw() override;

    // The ring of buttons from the top: 2, 3, 4, 6, 7, 8, 1.
    static int32_t above(int32_t id);
    static int32_t below(int32_t id);

    uint32_t values[4] = {};
    String quadPackage{L"Quad"};
    Button* buttons[buttonSlots] = {};
    Showroom* showroom = nullptr;
    int32_t selection = championship;
};

// The quad on its turntable: drawn into a viewport at the bottom right of
// the current target, over a mirror floor that shows its reflection.
class GameMenu::Main::Showroom : public Mirror::Interface
{
public:
    explicit Showroom(GameMenu& menu);
    virtual ~Showroom();
    Showroom(const Showroom&) = delete;
    Showroom& operator=(const Showroom&) = delete;

    // Places the package of that name on the turntable (nothing when there
    // is none).
    void enter(const String& name);
    // The main screen closes: the quad's live instance goes.
    void leave();
    void beginDrag();
    // The button was let go: the drag's angle stays.
    void endDrag();
    void update();
    void updateCamera();
    void render(IDirect3DDevice9* device);
    void drawPlatform(IDirect3DDevice9* device);
    void drawMirrorSurface() override;
    void drawReflection(IDirect3DDevice9* device) override;

    // Whether the showroom has a live quad to show.
    bool hasQuad() const;
    // Where the showroom sits on a target of that size.
    static D3DVIEWPORT9 viewportFor(uint32_t width, uint32_t height, float aspect);
    // The turn about the vertical axis by degrees, for row vectors.
    static matrix3d turnMatrix(float degrees);
    // The platform image: translucent black with a white bar in a light grey
    // border.
    static void paintPlatform(Paint& image);
    // The brightness of the ring segment between angles a0 and a1 under the
    // light at lightAngle: 0.2 to 0.9.
    static float segmentLevel(float a0, float a1, float lightAngle);
    // Starts a drag at the cursor (client pixels) when it lies in rect
    // (edges included).
    bool startDragAt(int32_t cx, int32_t cy);
    // The drag's angle for the cursor at cx.
    void dragTo(int32_t cx) { dragAngle = float(dragX - cx) * 0.5f; }

    GameMenu* menu;
    Game::Vehicle* vehicle = nullptr;
    Object* object = nullptr;
    ::Control control;
    D3DVIEWPORT9 savedViewport{};
    D3DVIEWPORT9 rect{};
    uint32_t dragging = 0;
    int32_t dragX = 0;
    int32_t dragY = 0;
    vec3d pivot;
    float turnAngle = 220.0f;
    float dragAngle = 0.0f;
    matrix3d turn = matrix3d::identity();
    TextureRef platform;
    float lightAngle = 0.0f;
    Mirror mirror{this};
};
