#include "DialogTemplateWriter.h"

#include "DialogPages.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

namespace DialogTemplateWriter {

namespace {

constexpr int32_t margin = 7;
constexpr int32_t rowHeight = 16;

// Rows of controls laid out top-down in a page `width` units wide.
class Layout
{
public:
    Layout(Page& page) : page_(page) {}

    void add(Kind kind, int32_t id, const std::string& caption, int32_t x, int32_t width, int32_t height = 12)
    {
        page_.controls.push_back({kind, id, caption, x, y_, width, height});
    }
    void next(int32_t height = rowHeight) { y_ += height; }
    Page& page() { return page_; }
    int32_t y() const { return y_; }

    // A caption, a trackbar and the value label on one row.
    void slider(const std::string& caption, int32_t trackbar, int32_t label)
    {
        add(Kind::label, -1, caption, margin, 70, 10);
        add(Kind::trackbar, trackbar, "", margin + 72, 110, 14);
        add(Kind::value, label, "", margin + 186, 40, 12);
        next();
    }
    // Buttons side by side on one row.
    void buttons(std::initializer_list<std::pair<int32_t, const char*>> row, int32_t width = 56)
    {
        int32_t x = margin;
        for (const auto& [id, caption] : row) {
            add(Kind::button, id, caption, x, width, 14);
            x += width + 4;
        }
        next(rowHeight + 2);
    }
    // OK and Cancel at the bottom right; sets the page's height.
    void close(std::initializer_list<std::pair<int32_t, const char*>> row)
    {
        next(4);
        int32_t x = page_.width - margin - int32_t(row.size()) * 54;
        for (const auto& [id, caption] : row) {
            add(Kind::button, id, caption, x, 50, 14);
            x += 54;
        }
        next(rowHeight + 2);
        page_.height = y_ + 2;
    }

private:
    Page& page_;
    int32_t y_ = margin;
};

Page makePage(uint16_t resource, const char* name, const char* caption, int32_t width, int32_t height = 0)
{
    return Page{resource, name, caption, width, height, {}};
}

// A tree level page: twenty slider rows and the check boxes.
constexpr int32_t levelPageHeight = 2 + 20 * 12 + 16;

Page collect()
{
    Page page = makePage(DialogPages::collect, "Collect", "Pick-up", 170);
    Layout l(page);
    l.add(Kind::label, -1, "Item kind", margin, 60, 10);
    l.add(Kind::edit, 1059, "", margin + 64, 50);
    l.next();
    l.close({{IDOK, "OK"}, {IDCANCEL, "Cancel"}});
    return page;
}

Page gate()
{
    Page page = makePage(DialogPages::gate, "Gate", "Gate", 200);
    Layout l(page);
    l.add(Kind::label, -1, "Marker mesh", margin, 60, 10);
    l.add(Kind::value, 1231, "", margin + 64, 120);
    l.next();
    l.buttons({{1232, "Pick..."}});
    l.close({{IDCLOSE, "Close"}});
    return page;
}

Page oilPuddle()
{
    Page page = makePage(DialogPages::oilPuddle, "OilPuddle", "Oil puddle", 170);
    Layout l(page);
    l.add(Kind::label, -1, "The puddle has no settings.", margin, 150, 10);
    l.next();
    l.close({{IDOK, "OK"}, {IDCANCEL, "Cancel"}});
    return page;
}

Page fire()
{
    Page page = makePage(DialogPages::fire, "Fire", "Fire", 240);
    Layout l(page);
    l.slider("Brightness curve", 1237, 1238);
    l.slider("Spin", 1241, 1242);
    l.slider("Size curve", 1244, 1245);
    l.slider("End size", 1247, 1248);
    l.slider("Size spread", 1257, 1258);
    l.slider("Flicker", 1260, 1261);
    l.buttons({{1249, "Preset 1"}, {1250, "Preset 2"}});
    l.add(Kind::check, 1032, "Burning at start", margin, 100);
    l.next();
    l.add(Kind::radio, 1253, "No sound", margin, 60);
    l.add(Kind::radio, 1254, "Own sound", margin + 64, 60);
    l.add(Kind::button, 1255, "", margin + 128, 20, 14);
    l.add(Kind::button, 1256, "Sound...", margin + 152, 50, 14);
    l.next(rowHeight + 2);
    l.buttons({{1259, "Add"}, {1263, "Delete"}, {1264, "Next"}});
    l.add(Kind::label, -1, "Fires", margin, 30, 10);
    l.add(Kind::value, 1266, "", margin + 34, 30);
    l.next();
    l.close({{IDOK, "OK"}, {IDCANCEL, "Cancel"}});
    return page;
}

Page rocket()
{
    Page page = makePage(DialogPages::rocket, "Rocket", "Rocket", 240);
    Layout l(page);
    const int32_t images[3][2] = {{1236, 1239}, {1011, 1240}, {1012, 1241}};
    const char* imageCaptions[3] = {"Fire A...", "Fire B...", "Smoke..."};
    for (int i = 0; i < 3; ++i) {
        l.add(Kind::button, images[i][0], imageCaptions[i], margin + i * 76, 60, 14);
        l.add(Kind::picture, images[i][1], "", margin + i * 76, 30, 30);
        l.page().controls.back().y += 18;
    }
    l.next(18 + 44);
    const int32_t sounds[4][2] = {{1233, 1234}, {1257, 1258}, {1259, 1260}, {1261, 1262}};
    const char* soundCaptions[4] = {"Launch", "Flight at launcher", "Flight", "Explosion"};
    for (int i = 0; i < 4; ++i) {
        l.add(Kind::label, -1, soundCaptions[i], margin, 80, 10);
        l.add(Kind::button, sounds[i][0], "", margin + 84, 20, 14);
        l.add(Kind::button, sounds[i][1], "Sound...", margin + 108, 50, 14);
        l.next(rowHeight + 2);
    }
    l.close({{IDOK, "OK"}, {IDCANCEL, "Cancel"}});
    return page;
}

Page cloths()
{
    Page page = makePage(DialogPages::cloths, "Cloths", "Cloth", 250);
    Layout l(page);
    l.slider("Columns", 1024, 1025);
    l.slider("Rows", 1028, 1026);
    l.slider("Wind strength", 1208, 1210);
    l.slider("Wind angle", 1211, 1213);
    l.slider("Damping", 1214, 1216);
    l.slider("Specular power", 1027, 1033);
    l.slider("Gravity", 1215, 1218);
    l.add(Kind::radio, 1013, "Plane 6", margin, 50);
    l.add(Kind::radio, 1014, "Plane 7", margin + 54, 50);
    l.add(Kind::radio, 1018, "Plane 8", margin + 108, 50);
    l.next();
    l.add(Kind::check, 1029, "Wind from motion", margin, 90);
    l.add(Kind::check, 1023, "Pin line", margin + 100, 60);
    l.next();
    const int32_t pins[4][2] = {{1019, 1020}, {1021, 1022}, {1030, 1031}, {1032, 1034}};
    const char* pinCaptions[4] = {"Pin A", "Pin B", "Pin C", "Pin D"};
    for (int i = 0; i < 4; ++i) {
        const int32_t x = margin + (i % 2) * 118;
        l.add(Kind::label, -1, pinCaptions[i], x, 30, 10);
        l.add(Kind::edit, pins[i][0], "", x + 32, 36);
        l.add(Kind::edit, pins[i][1], "", x + 72, 36);
        if (i % 2)
            l.next();
    }
    const int32_t swatches[4] = {1015, 1052, 1017, 1016};
    const char* swatchCaptions[4] = {"Diffuse", "Ambient", "Emissive", "Specular"};
    for (int i = 0; i < 4; ++i) {
        l.add(Kind::label, -1, swatchCaptions[i], margin + i * 58, 34, 10);
        l.add(Kind::swatch, swatches[i], "", margin + i * 58 + 36, 16, 12);
    }
    l.next();
    l.add(Kind::button, 1010, "Texture...", margin, 56, 14);
    l.add(Kind::picture, 1047, "", margin + 64, 44, 44);
    l.next(50);
    l.close({{IDOK, "OK"}, {IDCANCEL, "Cancel"}});
    return page;
}

Page bush()
{
    Page page = makePage(DialogPages::bush, "Bush", "Bush", 170);
    Layout l(page);
    l.add(Kind::picture, 1033, "", margin, 30, 30);
    l.add(Kind::button, 1034, "Leaves...", margin + 40, 56, 14);
    l.next(34);
    l.add(Kind::label, -1, "Rustle", margin, 40, 10);
    l.add(Kind::button, 1035, "", margin + 44, 20, 14);
    l.add(Kind::button, 1036, "Sound...", margin + 68, 50, 14);
    l.next(rowHeight + 2);
    l.close({{IDOK, "OK"}, {IDCANCEL, "Cancel"}});
    return page;
}

Page lensFlare()
{
    Page page = makePage(DialogPages::lensFlare, "LensFlare", "Lens flare", 240);
    Layout l(page);
    l.slider("Cone angle", 1237, 1238);
    l.add(Kind::label, -1, "Colour", margin, 40, 10);
    l.add(Kind::swatch, 1213, "", margin + 44, 24, 12);
    l.next();
    l.buttons({{1259, "Add"}, {1263, "Delete"}, {1264, "Next"}});
    l.add(Kind::label, -1, "Flares", margin, 30, 10);
    l.add(Kind::value, 1266, "", margin + 34, 30);
    l.next();
    l.close({{IDCLOSE, "Close"}, {IDCANCEL, "Cancel"}});
    return page;
}

Page spin()
{
    Page page = makePage(DialogPages::spin, "Spin", "Spin", 240);
    Layout l(page);
    const int32_t sliders[9][2] = {{1202, 1205}, {1203, 1207}, {1208, 1213}, {1209, 1212}, {1214, 1219},
                                   {1215, 1218}, {1220, 1222}, {1223, 1225}, {1226, 1228}};
    const char* captions[9] = {"Sway x",         "Sway rate x",    "Sway y",
                               "Sway rate y",    "Sway z",         "Sway rate z",
                               "Turn about y",   "Turn about x",   "Turn about z"};
    for (int i = 0; i < 9; ++i)
        l.slider(captions[i], sliders[i][0], sliders[i][1]);
    l.close({{IDOK, "OK"}, {IDCANCEL, "Cancel"}});
    return page;
}

Page inventory()
{
    Page page = makePage(DialogPages::inventory, "Inventory", "Inventory", 170);
    Layout l(page);
    l.add(Kind::label, -1, "Pick-up sound", margin, 56, 10);
    l.add(Kind::button, 1229, "", margin + 60, 20, 14);
    l.add(Kind::button, 1230, "Sound...", margin + 84, 50, 14);
    l.next(rowHeight + 2);
    l.close({{IDOK, "OK"}, {IDCANCEL, "Cancel"}});
    return page;
}

Page quad()
{
    Page page = makePage(DialogPages::quad, "Quad", "Quad bike", 430);
    Layout l(page);
    // Left: the part roles, each a pick button named by its role and the
    // mesh's name beside it (captions on the buttons: every control costs
    // the page's opening time).
    const char* roles[17] = {"Rear swing arm",  "Rear shock",     "Rear wheels",      "Front left arm",
                             "Front left shock", "Front left steering", "Front left wheel", "Front right arm",
                             "Front right shock", "Front right steering", "Front right wheel", "Handlebar",
                             "Rear follower",   "Body",           "Driver",           "Helmet",
                             "Helmet carried"};
    const int32_t lastButtons[3] = {1246, 1250, 1252};
    for (int32_t role = 1; role <= 17; ++role) {
        const int32_t button = role <= 14 ? 1214 + 2 * role : lastButtons[role - 15];
        l.add(Kind::button, button, roles[role - 1], margin, 76, 12);
        l.add(Kind::value, button - 1, "", margin + 80, 104, 12);
        l.next(14);
    }
    const int32_t leftEnd = l.y();
    // Right: the sounds, the wheel textures and the sliders.
    const int32_t x = 205;
    int32_t y = margin;
    const char* sounds[9] = {"Engine idle", "Engine idle, gas", "Engine high", "Engine high, gas", "Wheel slide",
                             "Wheel roll",  "Body collision",   "Water spray", "Wheel landing"};
    const int32_t choose[9] = {1069, 1070, 1071, 1072, 1073, 1080, 1082, 1084, 1086};
    const int32_t play[9] = {1074, 1075, 1076, 1077, 1078, 1079, 1081, 1083, 1085};
    for (int i = 0; i < 9; ++i) {
        page.controls.push_back({Kind::button, choose[i], std::string(sounds[i]) + "...", x, y, 84, 12});
        page.controls.push_back({Kind::button, play[i], "", x + 88, y, 20, 12});
        y += 14;
    }
    y += 4;
    const int32_t textures[2][2] = {{1243, 1244}, {1247, 1248}};
    const char* textureCaptions[2] = {"Dust...", "Dirt..."};
    for (int i = 0; i < 2; ++i) {
        page.controls.push_back({Kind::button, textures[i][0], textureCaptions[i], x + i * 80, y, 46, 14});
        page.controls.push_back({Kind::picture, textures[i][1], "", x + i * 80, y + 18, 30, 30});
    }
    y += 18 + 32;
    const char* sliderCaptions[6] = {"Rear spring", "Rear damper", "Parameter 3", "Front spring", "Front damper",
                                     "Parameter 6"};
    const int32_t sliders[6][2] = {{1034, 1028}, {1035, 1029}, {1038, 1032}, {1036, 1030}, {1037, 1031}, {1039, 1033}};
    for (int i = 0; i < 6; ++i) {
        page.controls.push_back({Kind::label, -1, sliderCaptions[i], x, y + 2, 56, 10});
        page.controls.push_back({Kind::trackbar, sliders[i][0], "", x + 58, y, 120, 14});
        page.controls.push_back({Kind::value, sliders[i][1], "", x + 180, y, 38, 12});
        y += 16;
    }
    while (l.y() < std::max(leftEnd, y))
        l.next(1);
    l.close({{IDCLOSE, "Close"}, {IDCANCEL, "Cancel"}});
    return page;
}

// Rows of sliders in columns: each trackbar a row, the slider's value label
// beside its first trackbar.
namespace Sliders = DialogPages::TreeSliders;

template <size_t N>
void sliderColumns(Page& page, const Sliders::Kind (&kinds)[N], int32_t left, int32_t top, int32_t rowsPerColumn)
{
    constexpr int32_t columnWidth = 136, row = 12;
    int32_t trackbar = Sliders::firstTrackbar, label = Sliders::firstLabel, at = 0;
    for (Sliders::Kind kind : kinds) {
        for (int32_t c = 0; c < Sliders::components(kind); ++c, ++at) {
            const int32_t x = left + (at / rowsPerColumn) * columnWidth, y = top + (at % rowsPerColumn) * row;
            page.controls.push_back({Kind::trackbar, trackbar++, "", x, y, 90, 11});
            if (c == 0)
                page.controls.push_back({Kind::value, label++, "", x + 92, y, 40, 10});
        }
    }
}

Page tree()
{
    Page page = makePage(DialogPages::tree, "Tree", "Tree parameters", 4 * 136 + 2 * margin);
    // The bark preview is drawn at the top left, beside the foliage list.
    const int32_t x = 90;
    page.controls.push_back({Kind::label, -1, "Foliage", x, margin, 30, 10});
    page.controls.push_back({Kind::combo, Sliders::foliageList, "", x + 32, margin - 2, 110, 80});
    page.controls.push_back({Kind::edit, 1059, "", x + 146, margin - 2, 100, 12});
    page.controls.push_back({Kind::button, 1192, "Apply", x + 250, margin - 2, 40, 12});
    page.controls.push_back({Kind::button, 1058, "Remove", x + 294, margin - 2, 40, 12});
    page.controls.push_back({Kind::check, 1091, "Children at half turns", x, margin + 16, 100, 10});
    page.controls.push_back({Kind::label, -1, "Vertices", x + 146, margin + 16, 32, 10});
    page.controls.push_back({Kind::value, 1118, "", x + 180, margin + 16, 40, 10});
    page.controls.push_back({Kind::label, -1, "Triangles", x + 230, margin + 16, 36, 10});
    page.controls.push_back({Kind::value, 1119, "", x + 268, margin + 16, 40, 10});
    constexpr int32_t top = 48, rows = 11;
    sliderColumns(page, Sliders::tree, margin, top, rows);
    // The four level pages sit below, side by side (placed by the dialog).
    page.height = top + rows * 12 + 4 + levelPageHeight + margin + 20;
    const int32_t closeY = page.height - 18;
    page.controls.push_back({Kind::button, IDCLOSE, "Close", page.width - margin - 50, closeY, 50, 14});
    return page;
}

Page treeLevel()
{
    Page page = makePage(DialogPages::treeLevel, "TreeLevel", "", 136, levelPageHeight);
    page.child = true;
    sliderColumns(page, Sliders::level, 2, 2, 20);
    const char* captions[3] = {"Pairs", "Ribbons", "Caps"};
    for (int i = 0; i < 3; ++i)
        page.controls.push_back({Kind::check, Sliders::levelChecks[i], captions[i], 2 + i * 44,
                                 2 + 20 * 12 + 2, 42, 10});
    return page;
}

} // namespace

bool Page::has(int32_t id) const
{
    for (const Control& c : controls)
        if (c.id == id)
            return true;
    return false;
}

const std::vector<Page>& pages()
{
    static const std::vector<Page> all = {collect(), gate(), oilPuddle(), fire(),      rocket(),
                                          cloths(),  bush(), lensFlare(), spin(), inventory(), quad(),
                                          tree(),    treeLevel()};
    return all;
}

namespace {

struct ClassAndStyle
{
    const char* windowClass;
    DWORD style;
};

ClassAndStyle classOf(Kind kind)
{
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    switch (kind) {
    case Kind::label:
        return {"Static", child | SS_LEFT};
    case Kind::value:
        return {"Static", child | SS_LEFT | SS_SUNKEN};
    case Kind::edit:
        return {"Edit", child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL};
    case Kind::button:
        return {"Button", child | WS_TABSTOP | BS_PUSHBUTTON};
    case Kind::check:
        return {"Button", child | WS_TABSTOP | BS_AUTOCHECKBOX};
    case Kind::radio:
        return {"Button", child | WS_TABSTOP | BS_AUTORADIOBUTTON};
    case Kind::trackbar:
        return {TRACKBAR_CLASSA, child | WS_TABSTOP | TBS_HORZ | TBS_NOTICKS};
    case Kind::swatch:
        return {"Button", child | WS_TABSTOP | BS_OWNERDRAW};
    case Kind::picture:
        return {"Static", child | SS_BITMAP};
    case Kind::combo:
        return {"ComboBox", child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST};
    }
    return {"Static", child};
}

// A resource-script string: quotes doubled, only printable ASCII.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += "\"\"";
        else if (c >= 0x20 && c < 0x7F)
            out += c;
    }
    return out + "\"";
}

} // namespace

std::string resourceScript(const std::vector<Page>& list)
{
    std::string script = "// The editing pages' dialog templates, written by the content builder.\n";
    char line[256];
    for (const Page& page : list) {
        std::snprintf(line, sizeof(line), "\n// %s\n%u DIALOGEX 0, 0, %d, %d\n", page.name.c_str(),
                      unsigned(page.resource), page.width, page.height);
        script += line;
        const DWORD style = page.child ? DS_SETFONT | DS_CONTROL | WS_CHILD
                                       : DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        std::snprintf(line, sizeof(line), "STYLE 0x%08lX\n", static_cast<unsigned long>(style));
        script += line;
        if (!page.child)
            script += "CAPTION " + quoted(page.caption) + "\n";
        script += "FONT 8, \"MS Shell Dlg\", 400, 0, 1\nBEGIN\n";
        for (const Control& c : page.controls) {
            const ClassAndStyle kind = classOf(c.kind);
            std::snprintf(line, sizeof(line), "    CONTROL %s, %d, %s, 0x%08lX, %d, %d, %d, %d\n",
                          quoted(c.caption).c_str(), c.id, quoted(kind.windowClass).c_str(),
                          static_cast<unsigned long>(kind.style), c.x, c.y, c.width, c.height);
            script += line;
        }
        script += "END\n";
    }
    return script;
}

BuiltinTextures::File file()
{
    const std::string script = resourceScript(pages());
    return {L"Dialogs.rc", std::vector<uint8_t>(script.begin(), script.end())};
}

}
