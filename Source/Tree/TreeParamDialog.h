#pragma once
// The parameter dialog a tree can carry: a page of sliders over the tree's
// bone, mesh and root parameters and its material levels, one child page
// per bough level, the list of its foliage objects, the bark preview and
// the vertex and triangle counts. The tree owns it; every generation
// refreshes it, so that each control shows the value the tree now holds.
// The sliders write their fields as they move; nothing regenerates on an
// edit (no tree-editing tool is part of the game). Main thread only.

#include "Tree/Tree.h"
#include "Tree/TreeParameters.h"

#include "Application/DialogTools.h"

#include <TextureRecord.h>

#include <windows.h>

#include <cstdint>
#include <vector>

class Tree::ParamDialog final : public Template
{
public:
    // One level record's page.
    struct LevelPage
    {
        HWND window = nullptr;
        Bough::Param::BoneParam::Level* level = nullptr;
        DialogTools::Vector3Slider triples[2];
        DialogTools::IntSlider whole;
        DialogTools::Slider reals[7];
        DialogTools::Vector2Slider pairs[3];
    };

    // Bound to the fields of tree and of its parameters; no window yet.
    ParamDialog(Tree& tree, Bough::Param& parameters);
    ~ParamDialog() override;

    // Opens the dialog (modeless, owned by parent) and refreshes it. False
    // when it cannot be made.
    bool open(HWND parent);

    // Every page's sliders and check boxes from their fields, the bark
    // preview, the foliage list and the counts.
    void refresh();
    void refreshLevel(LevelPage& page);
    // Lists the foliage objects by name, keeping the selected name when an
    // object of that name is still there; 1192 and 1058 are enabled while
    // one is selected, whose name goes to 1059.
    void refreshFoliageList();
    // The first foliage object named as the list's selected item, or null.
    Foliage* findSelectedFoliage() const;
    // Vertices into 1118, triangles into 1119.
    void showCounts();

    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    HWND foliageList = nullptr;
    LevelPage levels[4];
    std::vector<DialogTools::Vector3Slider> triples;
    std::vector<DialogTools::Slider> reals;
    std::vector<DialogTools::IntSlider> wholes;
    std::vector<DialogTools::Vector2Slider> pairs;
    DialogTools::Bitmap bark;
    // The bark texture the bitmap was last copied from (held, so that its
    // record stays what it was) and its Direct3D texture at the time.
    TextureRef barkShown;
    IDirect3DTexture9* barkShownTexture = nullptr;
    Tree& tree;
    Bough::Param& parameters;

private:
    void bind();
    void setPositions();
    // Moves slider to its field; while the drawing is off, what changed is
    // kept for the repaint.
    template <class S>
    void position(S& slider);
    // Check box id of page on or off, when it shows otherwise.
    void check(HWND page, int32_t id, bool on);
    // The list emptied and filled with the objects' names, the first of the
    // remembered name selected.
    template <class Match>
    void fillFoliageList(bool hadSelection, const Match& isRemembered);
    // Invalidates the controls a refresh changed, and the bark when it was
    // copied anew.
    void repaintStale(bool barkCopied);

    // Whether a refresh has the drawing off, and the controls it changed.
    bool deferPaint = false;
    std::vector<HWND> stale;
    static INT_PTR CALLBACK levelProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
};
