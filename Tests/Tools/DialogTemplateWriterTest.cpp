// The editing pages' dialog templates as a resource script: one template per
// page under its own resource id, each control once with its id, class and
// style, captions quoted. (The pages' tests open them under Wine.)
#include "DialogTemplateWriter.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace DialogTemplateWriter;

TEST(DialogTemplateWriter, PagesHaveOwnResourceIdsAndControlIds)
{
    std::set<uint16_t> resources;
    for (const Page& page : pages()) {
        SCOPED_TRACE(page.name);
        EXPECT_TRUE(resources.insert(page.resource).second) << "resource " << page.resource;
        std::set<int32_t> ids;
        for (const Control& c : page.controls) {
            if (c.id != -1)
                EXPECT_TRUE(ids.insert(c.id).second) << "control " << c.id;
            // Inside the page.
            EXPECT_GE(c.x, 0);
            EXPECT_LE(c.x + c.width, page.width) << c.id;
            EXPECT_LE(c.y + c.height, page.height) << c.id;
        }
        EXPECT_FALSE(page.has(-2));
    }
}

TEST(DialogTemplateWriter, TheScriptHoldsEveryPageAndControl)
{
    Page page{4001, "Test", "Say \"hi\"\xC3\xA4", 100, 40, {}};
    page.controls.push_back({Kind::trackbar, 1208, "", 1, 2, 30, 12});
    page.controls.push_back({Kind::swatch, 1015, "", 3, 4, 10, 10});
    page.controls.push_back({Kind::label, -1, "Wind", 5, 6, 20, 8});
    const std::string script = resourceScript({page});
    EXPECT_NE(script.find("4001 DIALOGEX 0, 0, 100, 40\n"), std::string::npos) << script;
    EXPECT_NE(script.find("CAPTION \"Say \"\"hi\"\"\"\n"), std::string::npos) << "quotes doubled, only ASCII";
    EXPECT_NE(script.find("CONTROL \"\", 1208, \"msctls_trackbar32\", 0x5001"), std::string::npos) << script;
    EXPECT_NE(script.find("CONTROL \"\", 1015, \"Button\", 0x5001000B, 3, 4, 10, 10"), std::string::npos)
        << "an owner-drawn button";
    EXPECT_NE(script.find("CONTROL \"Wind\", -1, \"Static\", 0x50000000, 5, 6, 20, 8"), std::string::npos);
    size_t begins = 0;
    for (size_t at = script.find("BEGIN"); at != std::string::npos; at = script.find("BEGIN", at + 1))
        ++begins;
    EXPECT_EQ(begins, 1u);

    const std::string all = resourceScript(pages());
    size_t dialogs = 0, controls = 0, expected = 0;
    for (size_t at = all.find(" DIALOGEX "); at != std::string::npos; at = all.find(" DIALOGEX ", at + 1))
        ++dialogs;
    for (size_t at = all.find("CONTROL "); at != std::string::npos; at = all.find("CONTROL ", at + 1))
        ++controls;
    for (const Page& p : pages())
        expected += p.controls.size();
    EXPECT_EQ(dialogs, pages().size());
    EXPECT_EQ(controls, expected);
    const BuiltinTextures::File written = file();
    EXPECT_STREQ(written.name, L"Dialogs.rc");
    EXPECT_EQ(std::string(written.bytes.begin(), written.bytes.end()), all);
}
