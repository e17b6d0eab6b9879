#include "Tree/TreeParamDialog.h"

#include "Tree/Foliage.h"

#include "Render/TextureBitmap.h"

#include "DialogPages.h"

#include <TextureRecord.h>

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <deque>
#include <string>

namespace {

namespace Sliders = DialogPages::TreeSliders;

constexpr int32_t nameField = 1059, halfTurns = 1091, applyButton = 1192, removeButton = 1058, vertexCount = 1118,
                  triangleCount = 1119;
constexpr int32_t barkSize = 64;

// A float field with its range, steps and decimals.
struct Real
{
    float* field;
    float min, max;
    int32_t steps, precision;
};
struct Whole
{
    uint32_t* field;
    int32_t min, max;
};
struct Vector
{
    float* components;
    float min, max;
    int32_t steps, precision;
};

// The next trackbar and label ids of a page, in the pages' binding order.
struct Ids
{
    int32_t trackbar = Sliders::firstTrackbar;
    int32_t label = Sliders::firstLabel;
    template <int N>
    void take(int32_t (&trackbars)[N])
    {
        for (int32_t& id : trackbars)
            id = trackbar++;
    }
};

DialogTools::Slider realSlider(Ids& ids, const Real& r)
{
    return DialogTools::Slider(r.field, ids.label++, r.precision, true, ids.trackbar++, r.steps, r.min, r.max);
}

DialogTools::IntSlider wholeSlider(Ids& ids, const Whole& w)
{
    // Unsigned fields are read and written through their signed view: the
    // ranges stay far below 2^31.
    return DialogTools::IntSlider(reinterpret_cast<int32_t*>(w.field), ids.label++, false, true, ids.trackbar++,
                                  std::max(w.max - w.min, 1), float(w.min), float(w.max));
}

template <int N>
DialogTools::VectorSlider<N> vectorSlider(Ids& ids, const Vector& v)
{
    int32_t trackbars[N];
    ids.take(trackbars);
    return DialogTools::VectorSlider<N>(v.components, ids.label++, v.precision, true, trackbars, v.steps, v.min, v.max);
}

// Removes the first entry of a queue.
template <class T>
T next(std::deque<T>& queue)
{
    T first = queue.front();
    queue.pop_front();
    return first;
}

} // namespace

Tree::ParamDialog::ParamDialog(Tree& owner, Bough::Param& param) : tree(owner), parameters(param)
{
    bind();
}

Tree::ParamDialog::~ParamDialog()
{
    // The level pages are children of the window, which the base destroys.
    bark.release();
    barkShown.release();
}

void Tree::ParamDialog::bind()
{
    Bough::Param& p = parameters;
    Bough::Param::BoneParam& bone = p.bone;
    Bough::Param::MeshParam& mesh = p.mesh;
    Bough::Param::RootParam& root = p.root;
    // Each kind's fields in binding order; the pages' kind table says which
    // kind comes next.
    std::deque<Vector> tripleFields = {{&bone.origin.x, -50.0f, 50.0f, 200, 1},
                                       {&bone.direction.x, -1.0f, 1.0f, 100, 2}};
    std::deque<Real> realFields = {
        {&bone.extent, 0.0f, 100.0f, 200, 1},          {&bone.childCountExponent, 0.0f, 4.0f, 100, 2},
        {&bone.startRadius, 0.0f, 10.0f, 200, 2},      {&bone.minRadius, 0.0f, 5.0f, 100, 2},
        {&bone.taperExponent, 0.0f, 5.0f, 100, 2},     {&bone.childPull, 0.0f, 4.0f, 100, 2},
        {&bone.childWeightMin, 0.0f, 1.0f, 100, 2},    {&bone.radiusReduction, 0.0f, 1.0f, 100, 2},
        {&mesh.ribbonWidthStart, 0.0f, 4.0f, 100, 2},  {&mesh.ribbonWidthEnd, 0.0f, 4.0f, 100, 2},
        {&mesh.fixedRingShare, 0.0f, 1.0f, 100, 2},    {&mesh.directionThreshold, 0.0f, 1.0f, 100, 2},
        {&mesh.radiusShrink, 0.0f, 1.0f, 100, 2},      {&mesh.barkRoughness, 0.0f, 1.0f, 100, 2},
        {&mesh.textureOffsetU, 0.0f, 1.0f, 100, 2},    {&root.vertexBlendExponent, 0.0f, 4.0f, 100, 2},
        {&root.fixedRingShare, 0.0f, 1.0f, 100, 2},    {&root.ringStepExponent, 0.0f, 4.0f, 100, 2},
        {&root.zone, 0.0f, 1.0f, 100, 2},              {&root.thicknessMin, 0.0f, 4.0f, 100, 2},
        {&root.thicknessMax, 0.0f, 4.0f, 100, 2},      {&root.pushBase, 0.0f, 10.0f, 100, 2},
        {&root.pushTop, 0.0f, 10.0f, 100, 2},          {&root.pushExponent, 0.0f, 4.0f, 100, 2},
        {&root.pushRandom, 0.0f, 1.0f, 100, 2},        {&tree.ambient, 0.0f, 2.0f, 100, 2},
        {&tree.diffuse, 0.0f, 2.0f, 100, 2},
    };
    std::deque<Whole> wholeFields = {{&bone.finCount, 0, 16},       {&mesh.ringVertexCount, 3, 64},
                                     {&root.count, 0, 16},          {&root.ringVertexCount, 3, 256},
                                     {&root.angleStep, 0, 360},     {&root.angleRange, 0, 360},
                                     {&tree.tag3Value, 0, 16}};
    std::deque<Vector> pairFields = {{&mesh.textureRepeat.x, 0.0f, 20.0f, 200, 1},
                                     {&mesh.textureExponent.x, 0.0f, 4.0f, 100, 2}};
    Ids ids;
    for (Sliders::Kind kind : Sliders::tree) {
        switch (kind) {
        case Sliders::real: reals.push_back(realSlider(ids, next(realFields))); break;
        case Sliders::whole: wholes.push_back(wholeSlider(ids, next(wholeFields))); break;
        case Sliders::pair: pairs.push_back(vectorSlider<2>(ids, next(pairFields))); break;
        case Sliders::triple: triples.push_back(vectorSlider<3>(ids, next(tripleFields))); break;
        }
    }

    for (int32_t n = 0; n < 4; ++n) {
        LevelPage& page = levels[n];
        Bough::Param::BoneParam::Level& level = bone.levels[n];
        page.level = &level;
        Ids levelIds;
        page.triples[0] = vectorSlider<3>(levelIds, {&level.growthBias.x, -2.0f, 2.0f, 100, 2});
        page.triples[1] = vectorSlider<3>(levelIds, {&level.axis.x, -1.0f, 1.0f, 100, 2});
        page.whole = wholeSlider(levelIds, {&level.resolution, 1, 100});
        const Real levelReals[7] = {
            {&level.nodeDensity, 0.0f, 4.0f, 100, 2},      {&level.childZoneStart, 0.0f, 1.0f, 100, 2},
            {&level.childZoneEnd, 0.0f, 1.0f, 100, 2},     {&level.wobble, 0.0f, 4.0f, 100, 2},
            {&level.childDensity, 0.0f, 4.0f, 100, 2},     {&level.endAtParentStart, 0.0f, 2.0f, 100, 2},
            {&level.endAtParentEnd, 0.0f, 2.0f, 100, 2},
        };
        for (int32_t k = 0; k < 7; ++k)
            page.reals[k] = realSlider(levelIds, levelReals[k]);
        page.pairs[0] = vectorSlider<2>(levelIds, {&level.angleStep.x, -180.0f, 180.0f, 360, 0});
        page.pairs[1] = vectorSlider<2>(levelIds, {&level.angleBase.x, -180.0f, 180.0f, 360, 0});
        page.pairs[2] = vectorSlider<2>(levelIds, {&level.angleRange.x, 0.0f, 360.0f, 360, 0});
    }
}

bool Tree::ParamDialog::open(HWND parent)
{
    create(DialogPages::tree, parent, true);
    return window != nullptr;
}

INT_PTR CALLBACK Tree::ParamDialog::levelProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(page, GWLP_USERDATA, LONG_PTR(lParam));
        return TRUE;
    }
    auto* level = reinterpret_cast<LevelPage*>(GetWindowLongPtrW(page, GWLP_USERDATA));
    if (!level || !level->window)
        return FALSE;
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        uint32_t* checks[3] = {&level->level->pairs, &level->level->ribbon, &level->level->cap};
        for (int32_t i = 0; i < 3; ++i)
            if (LOWORD(wParam) == Sliders::levelChecks[i]) {
                *checks[i] = DialogTools::isChecked(page, Sliders::levelChecks[i]) ? 1 : 0;
                return TRUE;
            }
    }
    INT_PTR handled = FALSE;
    for (DialogTools::Vector3Slider& slider : level->triples)
        handled |= slider.process(message, wParam, lParam);
    handled |= level->whole.process(message, wParam, lParam);
    for (DialogTools::Slider& slider : level->reals)
        handled |= slider.process(message, wParam, lParam);
    for (DialogTools::Vector2Slider& slider : level->pairs)
        handled |= slider.process(message, wParam, lParam);
    return handled;
}

INT_PTR Tree::ParamDialog::handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        foliageList = GetDlgItem(dialog, Sliders::foliageList);
        for (auto& s : triples)
            s.init(dialog);
        for (auto& s : reals)
            s.init(dialog);
        for (auto& s : wholes)
            s.init(dialog);
        for (auto& s : pairs)
            s.init(dialog);
        // The level pages side by side below the tree page's sliders.
        RECT area{7, 48 + 11 * 12 + 4, 7, 0};
        MapDialogRect(dialog, &area);
        HINSTANCE instance = GetModuleHandleW(nullptr);
        for (int32_t n = 0; n < 4; ++n) {
            LevelPage& page = levels[n];
            page.window = CreateDialogParamW(instance, MAKEINTRESOURCEW(DialogPages::treeLevel), dialog, levelProc,
                                             LPARAM(&page));
            if (!page.window)
                continue;
            RECT size{};
            GetWindowRect(page.window, &size);
            SetWindowPos(page.window, nullptr, area.left + n * (size.right - size.left), area.top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            for (auto& s : page.triples)
                s.init(page.window);
            page.whole.init(page.window);
            for (auto& s : page.reals)
                s.init(page.window);
            for (auto& s : page.pairs)
                s.init(page.window);
            ShowWindow(page.window, SW_SHOWNA);
        }
        refresh();
        return TRUE;
    }
    if (message == WM_DESTROY) {
        // The pages go with this window; nothing touches their controls again.
        for (LevelPage& page : levels)
            page.window = nullptr;
        foliageList = nullptr;
        bark.release();
        barkShown.release();
        barkShownTexture = nullptr;
        return FALSE;
    }
    if (message == WM_PAINT) {
        // The bark preview sits on the page itself, over its default paint.
        DefWindowProcW(dialog, message, wParam, lParam);
        bark.draw(1, 0);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        const int32_t id = LOWORD(wParam);
        if (id == IDCANCEL || id == IDCLOSE) {
            close(id);
            return TRUE;
        }
        if (id == halfTurns) {
            parameters.bone.halfTurnYaw = DialogTools::isChecked(dialog, halfTurns) ? 1 : 0;
            return TRUE;
        }
        if (id == Sliders::foliageList && HIWORD(wParam) == CBN_SELCHANGE) {
            const Foliage* selected = findSelectedFoliage();
            EnableWindow(GetDlgItem(dialog, applyButton), selected != nullptr);
            EnableWindow(GetDlgItem(dialog, removeButton), selected != nullptr);
            if (selected)
                SetDlgItemTextW(dialog, nameField, selected->name.text());
            return TRUE;
        }
    }
    INT_PTR handled = FALSE;
    for (auto& s : triples)
        handled |= s.process(message, wParam, lParam);
    for (auto& s : reals)
        handled |= s.process(message, wParam, lParam);
    for (auto& s : wholes)
        handled |= s.process(message, wParam, lParam);
    for (auto& s : pairs)
        handled |= s.process(message, wParam, lParam);
    return handled;
}

void Tree::ParamDialog::refreshLevel(LevelPage& page)
{
    if (!page.window || !page.level)
        return;
    for (auto& s : page.triples)
        position(s);
    position(page.whole);
    for (auto& s : page.reals)
        position(s);
    for (auto& s : page.pairs)
        position(s);
    const uint32_t checks[3] = {page.level->pairs, page.level->ribbon, page.level->cap};
    for (int32_t i = 0; i < 3; ++i)
        check(page.window, Sliders::levelChecks[i], checks[i] != 0);
}

template <class S>
void Tree::ParamDialog::position(S& slider)
{
    if (!slider.setPosition(!deferPaint) || !deferPaint)
        return;
    if constexpr (requires { slider.component; }) {
        for (auto& c : slider.component)
            stale.push_back(c.trackbar);
    } else {
        stale.push_back(slider.trackbar);
    }
    stale.push_back(slider.label);
}

void Tree::ParamDialog::check(HWND page, int32_t id, bool on)
{
    HWND box = GetDlgItem(page, id);
    const LRESULT state = on ? BST_CHECKED : BST_UNCHECKED;
    if (SendMessageW(box, BM_GETCHECK, 0, 0) == state)
        return;
    SendMessageW(box, BM_SETCHECK, WPARAM(state), 0);
    if (deferPaint)
        stale.push_back(box);
}

void Tree::ParamDialog::setPositions()
{
    // The tree page's sliders in the order of its kind table.
    size_t nextTriple = 0, nextReal = 0, nextWhole = 0, nextPair = 0;
    for (Sliders::Kind kind : Sliders::tree) {
        switch (kind) {
        case Sliders::real: position(reals[nextReal++]); break;
        case Sliders::whole: position(wholes[nextWhole++]); break;
        case Sliders::pair: position(pairs[nextPair++]); break;
        case Sliders::triple: position(triples[nextTriple++]); break;
        }
    }
}

void Tree::ParamDialog::refresh()
{
    if (!window)
        return;
    // A shown dialog repaints what changed once the refresh is done, not
    // control by control as each takes its value (a label repaints itself
    // at once when its text changes). Turning the drawing off drops every
    // pending paint, so what is pending is painted first.
    deferPaint = IsWindowVisible(window) != FALSE;
    if (deferPaint) {
        RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        SendMessageW(window, WM_SETREDRAW, FALSE, 0);
    }
    for (LevelPage& page : levels)
        refreshLevel(page);
    setPositions();
    check(window, halfTurns, parameters.bone.halfTurnYaw != 0);
    bool barkCopied = false;
    if (const TextureRef* texture = tree.barkTexture(); texture && texture->isBound()) {
        // The copy resamples (and first converts) the whole texture: only a
        // bark the bitmap does not show yet is copied.
        const bool copied = bark.bitmap && barkShown.texture() == texture->texture() &&
                            barkShownTexture == texture->texture()->texture;
        if (!copied && (bark.bitmap || bark.create(window, false, barkSize, barkSize))) {
            StructTexture::copyToBitmap(*texture, bark);
            barkShown = *texture;
            barkShownTexture = texture->texture()->texture;
            barkCopied = true;
        }
    }
    refreshFoliageList();
    showCounts();
    if (deferPaint) {
        deferPaint = false;
        SendMessageW(window, WM_SETREDRAW, TRUE, 0);
        repaintStale(barkCopied);
    }
}

void Tree::ParamDialog::repaintStale(bool barkCopied)
{
    for (HWND control : stale)
        InvalidateRect(control, nullptr, TRUE);
    stale.clear();
    if (barkCopied) {
        // The bark is drawn by the page's own paint.
        const RECT area{1, 0, 1 + barkSize, barkSize};
        InvalidateRect(window, &area, TRUE);
    }
}

void Tree::ParamDialog::refreshFoliageList()
{
    if (!window || !foliageList)
        return;
    // The name field's text (at most 260 characters) while an item is
    // selected: the same name is selected again.
    wchar_t remembered[261] = {};
    const bool hadSelection = SendMessageW(foliageList, CB_GETCURSEL, 0, 0) != CB_ERR;
    if (hadSelection)
        GetDlgItemTextW(window, nameField, remembered, 261);
    const size_t rememberedLength = std::wcslen(remembered);
    const auto isRemembered = [&](const wchar_t* name) {
        return std::wcslen(name) == rememberedLength && std::wmemcmp(name, remembered, rememberedLength) == 0;
    };
    // A list that already names the objects, with the item to select
    // selected, is not filled again (nor repainted).
    const LRESULT items = SendMessageW(foliageList, CB_GETCOUNT, 0, 0);
    bool refill = true;
    if (items == LRESULT(tree.foliageCount())) {
        bool same = true;
        LRESULT wanted = CB_ERR;
        std::wstring text;
        for (uint32_t i = 0; i < tree.foliageCount() && same; ++i) {
            const Foliage* object = tree.foliage(i);
            const wchar_t* name = object ? object->name.text() : L"";
            const LRESULT length = SendMessageW(foliageList, CB_GETLBTEXTLEN, WPARAM(i), 0);
            same = length == LRESULT(std::wcslen(name));
            if (same) {
                text.assign(size_t(length) + 1, L'\0');
                same = SendMessageW(foliageList, CB_GETLBTEXT, WPARAM(i), LPARAM(text.data())) == length &&
                       std::wmemcmp(text.data(), name, size_t(length)) == 0;
            }
            if (same && hadSelection && wanted == CB_ERR && isRemembered(name))
                wanted = LRESULT(i);
        }
        refill = !same || wanted != SendMessageW(foliageList, CB_GETCURSEL, 0, 0);
    }
    if (refill)
        fillFoliageList(hadSelection, isRemembered);
    const Foliage* object = findSelectedFoliage();
    bool changed = refill;
    for (int32_t id : {applyButton, removeButton}) {
        HWND button = GetDlgItem(window, id);
        if ((IsWindowEnabled(button) != FALSE) != (object != nullptr)) {
            EnableWindow(button, object != nullptr);
            changed = true;
        }
    }
    if (object)
        changed = DialogTools::setText(GetDlgItem(window, nameField), object->name.text()) || changed;
    if (deferPaint && changed)
        for (int32_t id : {int32_t(Sliders::foliageList), nameField, applyButton, removeButton})
            stale.push_back(GetDlgItem(window, id));
}

template <class Match>
void Tree::ParamDialog::fillFoliageList(bool hadSelection, const Match& isRemembered)
{
    SendMessageW(foliageList, CB_RESETCONTENT, 0, 0);
    bool selected = false;
    for (uint32_t i = 0; i < tree.foliageCount(); ++i) {
        const Foliage* object = tree.foliage(i);
        const wchar_t* name = object ? object->name.text() : L"";
        const LRESULT at = SendMessageW(foliageList, CB_ADDSTRING, 0, LPARAM(name));
        // The first object of the remembered name is the selected one.
        if (hadSelection && !selected && at != CB_ERR && isRemembered(name)) {
            SendMessageW(foliageList, CB_SETCURSEL, WPARAM(at), 0);
            selected = true;
        }
    }
}

Tree::Foliage* Tree::ParamDialog::findSelectedFoliage() const
{
    if (!foliageList)
        return nullptr;
    const LRESULT at = SendMessageW(foliageList, CB_GETCURSEL, 0, 0);
    if (at == CB_ERR)
        return nullptr;
    // The item's text into a buffer of its own length: a tree file's names
    // may be of any length.
    const LRESULT length = SendMessageW(foliageList, CB_GETLBTEXTLEN, WPARAM(at), 0);
    if (length == CB_ERR || length < 0)
        return nullptr;
    std::wstring text(size_t(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(foliageList, CB_GETLBTEXT, WPARAM(at), LPARAM(text.data()));
    if (copied == CB_ERR)
        return nullptr;
    text.resize(size_t(copied));
    for (uint32_t i = 0; i < tree.foliageCount(); ++i) {
        Foliage* object = tree.foliage(i);
        const wchar_t* name = object ? object->name.text() : L"";
        if (object && text == name)
            return object;
    }
    return nullptr;
}

void Tree::ParamDialog::showCounts()
{
    if (!window)
        return;
    const int32_t counts[2][2] = {{vertexCount, int32_t(tree.countVertices())},
                                  {triangleCount, int32_t(tree.countTriangles())}};
    for (const auto& [id, count] : counts) {
        wchar_t text[16];
        std::swprintf(text, 16, L"%i", count);
        HWND field = GetDlgItem(window, id);
        if (DialogTools::setText(field, text) && deferPaint)
            stale.push_back(field);
    }
}
