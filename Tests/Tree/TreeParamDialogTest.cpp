// The tree's parameter dialog, opened from the builder's dialog templates and
// refreshed by every generation: the trackbars, check boxes and counts show
// the tree's values, and the foliage list follows the tree's objects.
#include "../Objects/PageControls.h"
#include "../Render/TestDevice.h"

#include "TreeTestSupport.h"

#include "Tree/Foliage.h"
#include "Tree/Tree.h"
#include "Tree/TreeParamDialog.h"
#include "Tree/TreeParameters.h"

#include "DialogPages.h"
#include "DialogTemplateWriter.h"
#include "TreeSamples.h"

#include <commctrl.h>

#include <algorithm>
#include <set>
#include <string>

using namespace TestDevice;
using PageControls::textOf;

namespace {

using Sliders = DialogPages::TreeSliders::Kind;

// Where a slider's thumb stands for value over min..max in steps.
int32_t expectedPosition(float value, float min, float max, int32_t steps)
{
    const float t = (value - min) / (max - min) * float(steps);
    return t > 0.0f ? std::min(int32_t(t), steps) : 0;
}

LRESULT positionOf(HWND trackbar)
{
    return SendMessageW(trackbar, TBM_GETPOS, 0, 0);
}

// Every trackbar of the dialog against its bound value; the number checked.
int32_t checkTrackbars(Tree::ParamDialog& dialog)
{
    int32_t checked = 0;
    auto check = [&](HWND trackbar, float value, float min, float max, int32_t steps) {
        EXPECT_NE(trackbar, nullptr);
        EXPECT_EQ(positionOf(trackbar), expectedPosition(value, min, max, steps)) << value;
        ++checked;
    };
    auto vectors = [&](auto& sliders) {
        for (auto& s : sliders)
            for (size_t i = 0; i < std::size(s.component); ++i)
                check(s.component[i].trackbar, s.value[i], s.component[i].min, s.component[i].max,
                      s.component[i].steps);
    };
    for (auto& s : dialog.reals)
        check(s.trackbar, *s.value, s.min, s.max, s.steps);
    for (auto& s : dialog.wholes)
        check(s.trackbar, float(*s.value), s.min, s.max, s.steps);
    vectors(dialog.triples);
    vectors(dialog.pairs);
    for (Tree::ParamDialog::LevelPage& page : dialog.levels) {
        vectors(page.triples);
        check(page.whole.trackbar, float(*page.whole.value), page.whole.min, page.whole.max, page.whole.steps);
        for (auto& s : page.reals)
            check(s.trackbar, *s.value, s.min, s.max, s.steps);
        vectors(page.pairs);
    }
    return checked;
}

// The label of the slider on a dialog's tree page, or on one of its level
// pages, that holds field; 0 when none does.
int32_t labelOf(const Tree::ParamDialog& dialog, const void* field)
{
    for (auto& s : dialog.reals)
        if (s.value == field)
            return s.labelId;
    for (auto& s : dialog.wholes)
        if (s.value == field)
            return s.labelId;
    for (auto& s : dialog.pairs)
        if (s.value == field)
            return s.labelId;
    for (auto& s : dialog.triples)
        if (s.value == field)
            return s.labelId;
    return 0;
}

int32_t labelOf(const Tree::ParamDialog::LevelPage& page, const void* field)
{
    for (auto& s : page.triples)
        if (s.value == field)
            return s.labelId;
    for (auto& s : page.reals)
        if (s.value == field)
            return s.labelId;
    for (auto& s : page.pairs)
        if (s.value == field)
            return s.labelId;
    return page.whole.value == field ? page.whole.labelId : 0;
}

// "v1.1" with foliage objects of these names (and nothing else).
Bytes treeWithFoliage(const std::vector<std::string>& names)
{
    Assembler a;
    a.raw('v').raw('1').raw('.').raw('1').tag(7).u(uint32_t(names.size())).tag(8);
    for (const std::string& name : names) {
        a.tag(1).u(uint32_t(name.size()));
        for (char c : name)
            a.raw(c);
        a.end();
    }
    return a.end().bytes;
}

class TreeDialog : public DeviceSuite
{
};

} // namespace

// The dialog binds its sliders in the order of the pages' kind table, each
// kind taking as many trackbars as components, and every one of those
// controls is in the builder's template.
TEST_F(TreeDialog, SlidersFollowThePagesKindTable)
{
    Tree tree;
    ASSERT_TRUE(tree.openDialog(nullptr));
    Tree::ParamDialog& dialog = *tree.dialog;
    ASSERT_NE(dialog.window, nullptr);
    int32_t trackbar = DialogPages::TreeSliders::firstTrackbar, label = DialogPages::TreeSliders::firstLabel;
    size_t triple = 0, real = 0, whole = 0, pair = 0;
    std::set<const void*> fields;
    for (Sliders kind : DialogPages::TreeSliders::tree) {
        SCOPED_TRACE(trackbar);
        switch (kind) {
        case DialogPages::TreeSliders::real:
            EXPECT_EQ(dialog.reals.at(real).trackbarId, trackbar);
            EXPECT_EQ(dialog.reals.at(real).labelId, label);
            fields.insert(dialog.reals.at(real++).value);
            break;
        case DialogPages::TreeSliders::whole:
            EXPECT_EQ(dialog.wholes.at(whole).trackbarId, trackbar);
            fields.insert(dialog.wholes.at(whole++).value);
            break;
        case DialogPages::TreeSliders::pair:
            EXPECT_EQ(dialog.pairs.at(pair).component[1].trackbarId, trackbar + 1);
            fields.insert(dialog.pairs.at(pair++).value);
            break;
        case DialogPages::TreeSliders::triple:
            EXPECT_EQ(dialog.triples.at(triple).component[2].trackbarId, trackbar + 2);
            fields.insert(dialog.triples.at(triple++).value);
            break;
        }
        trackbar += DialogPages::TreeSliders::components(kind);
        ++label;
    }
    EXPECT_EQ(fields.size(), 38u) << "every slider its own field";
    EXPECT_EQ(real, 27u);
    EXPECT_EQ(whole, 7u);
    EXPECT_EQ(pair, 2u);
    EXPECT_EQ(triple, 2u);
    for (const DialogTemplateWriter::Page& page : DialogTemplateWriter::pages()) {
        if (page.resource != DialogPages::tree && page.resource != DialogPages::treeLevel)
            continue;
        HWND window = page.resource == DialogPages::tree ? dialog.window : dialog.levels[2].window;
        for (const DialogTemplateWriter::Control& c : page.controls)
            if (c.id > 0)
                EXPECT_NE(GetDlgItem(window, c.id), nullptr) << page.name << " " << c.id;
    }
    for (const Tree::ParamDialog::LevelPage& page : dialog.levels)
        EXPECT_TRUE(IsChild(dialog.window, page.window));
    EXPECT_EQ(dialog.levels[3].level, &dialog.parameters.bone.levels[3]);
    EXPECT_EQ(dialog.levels[1].reals[6].value, &dialog.parameters.bone.levels[1].endAtParentEnd);
}

// After each generation every trackbar stands for its field, the check
// boxes show their tags and 1118 and 1119 the counts; the bark shows.
TEST_F(TreeDialog, EveryGenerationRefreshesTheDialog)
{
    Tree tree;
    ASSERT_TRUE(tree.openDialog(nullptr));
    Tree::ParamDialog& dialog = *tree.dialog;
    Tree::Bough::Param& p = dialog.parameters;

    // A stream of only its version: the defaults.
    ByteStream bare(Assembler().raw('v').raw('1').raw('.').raw('1').end().bytes);
    tree.generate(bare);
    EXPECT_EQ(checkTrackbars(dialog), 44 + 4 * 20);
    EXPECT_EQ(textOf(dialog.window, 1118), L"0");
    // The labels show the defaults, each with the decimals of its slider.
    struct Label
    {
        HWND window;
        const void* field;
        const wchar_t* shown;
    };
    const Label labels[] = {
        {dialog.window, &p.bone.extent, L"20.0"},
        {dialog.window, &p.root.pushTop, L"0.20"},
        {dialog.window, &p.root.angleStep, L"135"},
        {dialog.window, &p.mesh.textureRepeat.x, L"3.0 | 4.0"},
        {dialog.window, &p.bone.direction.x, L"0.00 | 1.00 | 0.00"},
        {dialog.levels[1].window, &p.bone.levels[1].angleRange.x, L"20 | 360"},
        {dialog.levels[1].window, &p.bone.levels[1].resolution, L"30"},
        {dialog.levels[1].window, &p.bone.levels[1].wobble, L"1.00"},
    };
    for (const Label& l : labels) {
        const int32_t label = l.window == dialog.window ? labelOf(dialog, l.field) : labelOf(dialog.levels[1], l.field);
        EXPECT_EQ(textOf(l.window, label), l.shown);
    }

    // The sample tree, its values changed first so that every control moves.
    Bytes sample = TreeSamples::sampleTree();
    ByteStream first(sample);
    tree.generate(first);
    p.bone.extent = 60.0f;
    p.bone.halfTurnYaw = 1;
    p.bone.levels[2].ribbon = 1;
    p.bone.levels[0].pairs = 1;
    p.root.angleStep = 90;
    tree.ambient = 1.5f;
    dialog.refresh();
    EXPECT_EQ(checkTrackbars(dialog), 44 + 4 * 20);
    EXPECT_EQ(SendDlgItemMessageW(dialog.window, 1091, BM_GETCHECK, 0, 0), BST_CHECKED);
    struct Check
    {
        int32_t level, id;
        LRESULT state;
    };
    for (const Check& c : {Check{0, 1176, BST_CHECKED}, Check{0, 1016, BST_UNCHECKED}, Check{2, 1016, BST_CHECKED},
                           Check{2, 1177, BST_UNCHECKED}, Check{1, 1176, BST_UNCHECKED}}) {
        const Tree::Bough::Param::BoneParam::Level& level = p.bone.levels[c.level];
        const uint32_t tags[3] = {level.pairs, level.ribbon, level.cap};
        const int32_t index = c.id == 1176 ? 0 : c.id == 1016 ? 1 : 2;
        EXPECT_EQ(SendDlgItemMessageW(dialog.levels[c.level].window, c.id, BM_GETCHECK, 0, 0), tags[index] ? 1 : 0);
        EXPECT_EQ(SendDlgItemMessageW(dialog.levels[c.level].window, c.id, BM_GETCHECK, 0, 0), c.state)
            << c.level << " " << c.id;
    }
    ByteStream second(sample);
    tree.generate(second);
    EXPECT_EQ(checkTrackbars(dialog), 44 + 4 * 20);
    EXPECT_EQ(SendDlgItemMessageW(dialog.window, 1091, BM_GETCHECK, 0, 0), p.bone.halfTurnYaw ? 1 : 0);
    ASSERT_GT(tree.countVertices(), 0u);
    EXPECT_EQ(textOf(dialog.window, 1118), std::to_wstring(tree.countVertices()));
    EXPECT_EQ(textOf(dialog.window, 1119), std::to_wstring(tree.countTriangles()));
    if (tree.hasBark()) {
        EXPECT_EQ(dialog.bark.width(), 64);
        EXPECT_NE(dialog.bark.bitmap, nullptr);
    }

    // A slider moved by hand writes its field in the steps of its range and
    // shows it; nothing regenerates.
    struct Move
    {
        const float* field;
        int32_t position;
        float value;
        const wchar_t* shown;
    };
    const Move moves[] = {
        {&p.bone.extent, 100, 50.0f, L"50.0"},
        {&p.mesh.barkRoughness, 37, 0.37f, L"0.37"},
        {&p.root.pushBase, 25, 2.5f, L"2.50"},
    };
    for (const Move& m : moves) {
        auto slider = std::find_if(dialog.reals.begin(), dialog.reals.end(),
                                   [&](const DialogTools::Slider& s) { return s.value == m.field; });
        ASSERT_NE(slider, dialog.reals.end()) << m.shown;
        SendMessageW(slider->trackbar, TBM_SETPOS, TRUE, m.position);
        NMHDR notify{slider->trackbar, UINT_PTR(slider->trackbarId), UINT(NM_RELEASEDCAPTURE)};
        SendMessageW(dialog.window, WM_NOTIFY, WPARAM(notify.idFrom), LPARAM(&notify));
        EXPECT_NEAR(*m.field, m.value, 1e-6f) << m.shown;
        EXPECT_EQ(textOf(dialog.window, slider->labelId), m.shown);
    }
    HWND wobble = dialog.levels[1].reals[3].trackbar;
    SendMessageW(wobble, TBM_SETPOS, TRUE, 50);
    NMHDR levelNotify{wobble, UINT_PTR(dialog.levels[1].reals[3].trackbarId), UINT(NM_RELEASEDCAPTURE)};
    SendMessageW(dialog.levels[1].window, WM_NOTIFY, WPARAM(levelNotify.idFrom), LPARAM(&levelNotify));
    EXPECT_FLOAT_EQ(p.bone.levels[1].wobble, 2.0f);
    EXPECT_FLOAT_EQ(p.bone.levels[0].wobble, 1.0f) << "the other levels keep theirs";

    // The dialog goes with the tree, and its window with it.
    HWND window = dialog.window;
    tree.dialog.reset();
    EXPECT_FALSE(IsWindow(window));
}

// A refresh of the shown dialog leaves the controls it changed to be
// repainted, and only those; it paints what was pending before it and
// leaves the dialog drawing.
// Every slider's label on the tree page and on each level page shows its
// field's default in the slider's own place, with its own decimals.
TEST_F(TreeDialog, EverySlidersLabelShowsItsDefault)
{
    Tree tree;
    ASSERT_TRUE(tree.openDialog(nullptr));
    Tree::ParamDialog& dialog = *tree.dialog;
    ByteStream bare(Assembler().raw('v').raw('1').raw('.').raw('1').end().bytes);
    tree.generate(bare);
    Tree::Bough::Param& p = dialog.parameters;
    struct Shown
    {
        const void* field;
        const wchar_t* text;
    };
    const Shown treePage[] = {
        {&p.bone.origin.x, L"0.0 | 0.0 | 0.0"}, {&p.bone.direction.x, L"0.00 | 1.00 | 0.00"},
        {&p.bone.extent, L"20.0"},              {&p.bone.childCountExponent, L"1.00"},
        {&p.bone.startRadius, L"1.30"},         {&p.bone.minRadius, L"0.30"},
        {&p.bone.taperExponent, L"2.00"},       {&p.bone.childPull, L"1.00"},
        {&p.bone.childWeightMin, L"0.50"},      {&p.bone.radiusReduction, L"0.10"},
        {&p.mesh.ribbonWidthStart, L"0.85"},    {&p.mesh.ribbonWidthEnd, L"0.35"},
        {&p.mesh.fixedRingShare, L"0.05"},      {&p.mesh.directionThreshold, L"0.98"},
        {&p.mesh.radiusShrink, L"0.05"},        {&p.mesh.barkRoughness, L"0.15"},
        {&p.mesh.textureOffsetU, L"0.00"},      {&p.root.vertexBlendExponent, L"0.50"},
        {&p.root.fixedRingShare, L"0.50"},      {&p.root.ringStepExponent, L"0.20"},
        {&p.root.zone, L"0.20"},                {&p.root.thicknessMin, L"0.30"},
        {&p.root.thicknessMax, L"0.60"},        {&p.root.pushBase, L"2.10"},
        {&p.root.pushTop, L"0.20"},             {&p.root.pushExponent, L"0.50"},
        {&p.root.pushRandom, L"0.50"},          {&tree.ambient, L"0.60"},
        {&tree.diffuse, L"1.00"},               {&p.bone.finCount, L"3"},
        {&p.mesh.ringVertexCount, L"12"},       {&p.root.count, L"0"},
        {&p.root.ringVertexCount, L"100"},      {&p.root.angleStep, L"135"},
        {&p.root.angleRange, L"10"},            {&tree.tag3Value, L"2"},
        {&p.mesh.textureRepeat.x, L"3.0 | 4.0"}, {&p.mesh.textureExponent.x, L"1.00 | 1.00"},
    };
    std::set<int32_t> labels;
    for (const Shown& shown : treePage) {
        const int32_t label = labelOf(dialog, shown.field);
        ASSERT_NE(label, 0) << shown.text;
        labels.insert(label);
        EXPECT_EQ(textOf(dialog.window, label), shown.text) << label;
    }
    EXPECT_EQ(labels.size(), 38u) << "every slider of the tree page";

    for (int32_t n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        Tree::ParamDialog::LevelPage& page = dialog.levels[n];
        const Tree::Bough::Param::BoneParam::Level& level = *page.level;
        const Shown levelPage[] = {
            {&level.growthBias.x, n >= 2 ? L"0.00 | 0.20 | 0.00" : L"0.00 | 0.35 | 0.00"},
            {&level.axis.x, L"0.00 | 1.00 | 0.00"},
            {&level.resolution, L"30"},
            {&level.nodeDensity, L"0.70"},
            {&level.childZoneStart, n >= 2 ? L"0.50" : L"0.20"},
            {&level.childZoneEnd, n >= 1 ? L"1.00" : L"0.30"},
            {&level.wobble, L"1.00"},
            {&level.childDensity, n >= 1 ? L"0.50" : L"0.40"},
            {&level.endAtParentStart, L"1.00"},
            {&level.endAtParentEnd, L"1.00"},
            {&level.angleStep.x, L"0 | 0"},
            {&level.angleBase.x, L"0 | 0"},
            {&level.angleRange.x, L"20 | 360"},
        };
        std::set<int32_t> levelLabels;
        for (const Shown& shown : levelPage) {
            const int32_t label = labelOf(page, shown.field);
            ASSERT_NE(label, 0) << shown.text;
            levelLabels.insert(label);
            EXPECT_EQ(textOf(page.window, label), shown.text) << label;
        }
        EXPECT_EQ(levelLabels.size(), 13u) << "every slider of a level page";
    }
}

TEST_F(TreeDialog, ARefreshRepaintsWhatItChanged)
{
    Tree tree;
    ASSERT_TRUE(tree.openDialog(nullptr));
    Tree::ParamDialog& dialog = *tree.dialog;
    Tree::Bough::Param& p = dialog.parameters;
    ByteStream bare(Assembler().raw('v').raw('1').raw('.').raw('1').end().bytes);
    tree.generate(bare);
    ASSERT_TRUE(IsWindowVisible(dialog.window));
    UpdateWindow(dialog.window);
    const auto pending = [](HWND control) { return GetUpdateRect(control, nullptr, FALSE) != FALSE; };
    DialogTools::Slider& extent = dialog.reals[0];
    DialogTools::Slider& pushTop = *std::find_if(dialog.reals.begin(), dialog.reals.end(),
                                                 [&](const DialogTools::Slider& s) { return s.value == &p.root.pushTop; });
    DialogTools::Slider& wobble = dialog.levels[2].reals[3];
    HWND halfTurns = GetDlgItem(dialog.window, 1091);
    HWND cap = GetDlgItem(dialog.levels[1].window, 1177);
    for (HWND control : {extent.trackbar, extent.label, pushTop.trackbar, pushTop.label, halfTurns, cap})
        EXPECT_FALSE(pending(control));

    // An unchanged label painted over and left to its paint: the refresh
    // paints it before it turns the drawing off.
    HDC dc = GetDC(pushTop.label);
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    const RECT corner{0, 0, 4, 4};
    FillRect(dc, &corner, magenta);
    DeleteObject(magenta);
    ASSERT_EQ(GetPixel(dc, 1, 1), RGB(255, 0, 255));
    InvalidateRect(pushTop.label, nullptr, TRUE);

    p.bone.extent = 60.0f;
    p.bone.levels[2].wobble = 3.0f;
    p.bone.halfTurnYaw = 1;
    p.bone.levels[1].cap = p.bone.levels[1].cap ? 0 : 1;
    dialog.refresh();
    EXPECT_NE(GetPixel(dc, 1, 1), RGB(255, 0, 255)) << "the pending paint was done, not dropped";
    ReleaseDC(pushTop.label, dc);
    EXPECT_TRUE(IsWindowVisible(dialog.window)) << "drawing on again";
    EXPECT_EQ(textOf(dialog.window, extent.labelId), L"60.0");
    EXPECT_EQ(textOf(dialog.levels[2].window, wobble.labelId), L"3.00");
    EXPECT_EQ(SendMessageW(halfTurns, BM_GETCHECK, 0, 0), BST_CHECKED);
    struct Case
    {
        HWND control;
        bool stale;
    };
    for (const Case& c : {Case{extent.trackbar, true}, Case{extent.label, true}, Case{wobble.trackbar, true},
                          Case{wobble.label, true}, Case{halfTurns, true}, Case{cap, true},
                          Case{pushTop.trackbar, false}, Case{pushTop.label, false},
                          Case{dialog.levels[1].reals[3].label, false}})
        EXPECT_EQ(pending(c.control), c.stale) << GetDlgCtrlID(c.control);
    UpdateWindow(dialog.window);
    EXPECT_FALSE(pending(extent.label));
    // Nothing changed: nothing to repaint.
    dialog.refresh();
    for (HWND control : {extent.trackbar, extent.label, halfTurns, cap, dialog.foliageList})
        EXPECT_FALSE(pending(control)) << GetDlgCtrlID(control);
}

// The foliage list: names of any length or none, two of one name select
// the first, an empty list disables 1192 and 1058, and the selection
// survives a regeneration that keeps its name.
TEST_F(TreeDialog, TheFoliageListFollowsTheTreesObjects)
{
    Tree tree;
    ASSERT_TRUE(tree.openDialog(nullptr));
    Tree::ParamDialog& dialog = *tree.dialog;
    HWND list = dialog.foliageList;
    ASSERT_NE(list, nullptr);
    // An item chosen as the user would: the list tells the page.
    auto choose = [&](WPARAM item) {
        SendMessageW(list, CB_SETCURSEL, item, 0);
        SendMessageW(dialog.window, WM_COMMAND, MAKEWPARAM(DialogPages::TreeSliders::foliageList, CBN_SELCHANGE),
                     LPARAM(list));
    };
    auto enabled = [&] {
        const bool apply = IsWindowEnabled(GetDlgItem(dialog.window, 1192)) != FALSE;
        EXPECT_EQ(apply, IsWindowEnabled(GetDlgItem(dialog.window, 1058)) != FALSE);
        return apply;
    };

    ByteStream none(treeWithFoliage({}));
    tree.generate(none);
    EXPECT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 0);
    EXPECT_FALSE(enabled());
    EXPECT_EQ(dialog.findSelectedFoliage(), nullptr);

    const Bytes three = treeWithFoliage({"Oak", "Oak", "", "Elm"});
    ByteStream first(three);
    tree.generate(first);
    ASSERT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(SendMessageW(list, CB_GETLBTEXTLEN, 2, 0), 0) << "an unnamed object is listed empty";
    EXPECT_FALSE(enabled()) << "nothing selected yet";
    // The unnamed one chosen is found by its empty name.
    choose(2);
    EXPECT_EQ(dialog.findSelectedFoliage(), tree.foliage(2));

    // The second "Oak" selected: the first of that name is the one.
    choose(1);
    EXPECT_EQ(dialog.findSelectedFoliage(), tree.foliage(0));
    EXPECT_EQ(textOf(dialog.window, 1059), L"Oak");
    dialog.refreshFoliageList();
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(textOf(dialog.window, 1059), L"Oak");
    EXPECT_TRUE(enabled());

    // "Elm" survives a regeneration that keeps it, and goes with one that
    // does not.
    choose(3);
    EXPECT_EQ(textOf(dialog.window, 1059), L"Elm");
    ByteStream again(three);
    tree.generate(again);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(dialog.findSelectedFoliage(), tree.foliage(3));
    EXPECT_TRUE(enabled());
    ByteStream withoutElm(treeWithFoliage({"Oak", "Ash"}));
    tree.generate(withoutElm);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_FALSE(enabled());

    // A name longer than any fixed buffer is listed and found whole.
    const std::string longName(300, 'x');
    ByteStream named(treeWithFoliage({"Ash", longName}));
    tree.generate(named);
    EXPECT_EQ(SendMessageW(list, CB_GETLBTEXTLEN, 1, 0), 300);
    choose(1);
    EXPECT_EQ(dialog.findSelectedFoliage(), tree.foliage(1));
    EXPECT_EQ(textOf(dialog.window, 1059), std::wstring(300, L'x'));
    // A longer name that starts with the remembered one listed first: the
    // selection goes to the whole name.
    ByteStream prefix(treeWithFoliage({longName.substr(0, 10), "Ash", "xxxxx"}));
    choose(0);
    SetDlgItemTextW(dialog.window, 1059, L"xxxxx");
    tree.generate(prefix);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 2) << "names match whole, never by their start";
    EXPECT_EQ(dialog.findSelectedFoliage(), tree.foliage(2));
}
