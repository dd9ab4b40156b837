// Annotation presets: the colour text both ways, decoding element by
// element (one bad element no longer costs the others), the built-ins as
// fallback without touching what is stored, and the menu's save, delete
// and apply round trip through the user defaults.

#include "editor/AnnotationPreset.h"
#include "editor/PresetsMenu.h"
#include "model/AppState.h"
#include "platform/UserDefaults.h"
#include "support/ShownMenuLabel.h"

#include <QMenu>

#include <gtest/gtest.h>

namespace {

const QString key = QString::fromLatin1(AnnotationPreset::defaultsKey);

class PresetTest : public testing::Test
{
protected:
    void SetUp() override { UserDefaults::standard().removeObject(key); }
    void TearDown() override { UserDefaults::standard().removeObject(key); }
};

QByteArray element(const char *tool, const char *width = "3", const char *id = "6F9619FF-8B86-D011-B42D-00C04FC964FF")
{
    return QByteArray("{\"id\":\"") + id + "\",\"name\":\"P " + tool + "\",\"tool\":\"" + tool +
           "\",\"colorHex\":\"#00FF00\",\"lineWidth\":" + width + ",\"fontSize\":20}";
}

} // namespace

TEST_F(PresetTest, ColorTextParsesOnlyTheSixDigitForm)
{
    const QColor red(0xFF, 0x3B, 0x30);
    for (const char *text : {"#FF3B30", "#ff3b30", " #FF3B30\n", "FF3B30", "\t#Ff3B30 "})
        EXPECT_EQ(colorFromHex(QString::fromLatin1(text)), red) << text;
    for (const char *text : {"##FF3B30", "#FFF", "#FF3B30FF", "#FF3B3G", "", "#", "-00001", "#FF 3B30"})
        EXPECT_FALSE(colorFromHex(QString::fromLatin1(text)).has_value()) << text;
    EXPECT_EQ(colorFromHex(QStringLiteral("+FFFFF")), QColor(15, 255, 255));
    EXPECT_EQ(colorFromHex(QStringLiteral("-00000")), QColor(0, 0, 0));

    EXPECT_EQ(hexString(QColor::fromRgbF(1.0f, 0.5f, 0.0f)), QStringLiteral("#FF8000"));
    EXPECT_EQ(hexString(QColor()), QStringLiteral("#000000"));
    EXPECT_EQ(hexString(QColor::fromHsv(240, 255, 255, 10)), QStringLiteral("#0000FF")); // alpha dropped
    for (QColor c : {QColor(1, 2, 3), QColor(254, 128, 127), QColor(0, 122, 255)})
        EXPECT_EQ(colorFromHex(hexString(c)), c);
}

TEST_F(PresetTest, DecodingSkipsBadElementsAndKeepsTheRest)
{
    const QByteArray good = element("arrow");
    const QByteArray bytes = "[" + good + "," + element("lasso") + "," + element("text", "-1") + "," +
                             element("line", "1e9") + "," + element("ellipse", "\"3\"") + "," +
                             element("rectangle", "3", "not-a-uuid") + "," +
                             element("blur", "3", "{6F9619FF-8B86-D011-B42D-00C04FC964FF}") + ",42," +
                             R"({"id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","tool":"line","colorHex":"#000000","lineWidth":2,"fontSize":12})" +
                             "," + element("numbering", "2.5", "6f9619ff-8b86-d011-b42d-00c04fc964fe") + "]";
    const auto decoded = AnnotationPreset::decode(bytes);
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->size(), 2); // the arrow and the numbered step (lower-case id)
    EXPECT_EQ(decoded->at(0).tool, AnnotationTool::arrow);
    EXPECT_EQ(decoded->at(0).name, QStringLiteral("P arrow"));
    EXPECT_EQ(decoded->at(1).tool, AnnotationTool::numbering);
    EXPECT_EQ(decoded->at(1).lineWidth, 2.5);
    EXPECT_EQ(decoded->at(1).id, QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FE")));

    for (const char *bad : {"", "{}", "[", "null", "\"[]\"", "[1,2"})
        EXPECT_FALSE(AnnotationPreset::decode(bad).has_value()) << bad;
    EXPECT_TRUE(AnnotationPreset::decode("[]")->isEmpty());

    // Encoding gives it back, with "/" escaped and the id in upper case.
    QList<AnnotationPreset> list = *decoded;
    list[0].name = QStringLiteral("a/b \"q\" é");
    const QByteArray encoded = AnnotationPreset::encode(list);
    EXPECT_TRUE(encoded.contains("a\\/b"));
    EXPECT_TRUE(encoded.contains("6F9619FF-8B86-D011-B42D-00C04FC964FE"));
    EXPECT_EQ(AnnotationPreset::decode(encoded), list);
}

TEST_F(PresetTest, LoadFallsBackToTheBuiltInsWithoutTouchingTheStoredValue)
{
    const auto builtIns = AnnotationPreset::defaults();
    ASSERT_EQ(builtIns.size(), 3);
    EXPECT_EQ(builtIns[0].name, QStringLiteral("Red Arrow"));
    EXPECT_EQ(builtIns[2].fontSize, 14);
    EXPECT_EQ(AnnotationPreset::defaults()[1].id, builtIns[1].id); // same ids for the whole run

    EXPECT_EQ(AnnotationPreset::load(), builtIns); // nothing stored
    UserDefaults::standard().setString(key, QStringLiteral("[]"));
    EXPECT_EQ(AnnotationPreset::load(), builtIns); // text, not data

    const QByteArray allUnknown = "[" + element("lasso") + "]";
    UserDefaults::standard().setData(key, allUnknown);
    EXPECT_EQ(AnnotationPreset::load(), builtIns);
    EXPECT_EQ(UserDefaults::standard().dataForKey(key), allUnknown);

    const QByteArray mixed = "[" + element("lasso") + "," + element("highlight") + "]";
    UserDefaults::standard().setData(key, mixed);
    const auto loaded = AnnotationPreset::load();
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded[0].tool, AnnotationTool::highlight);
    EXPECT_EQ(UserDefaults::standard().dataForKey(key), mixed);
}

TEST_F(PresetTest, MenuSavesAppliesAndDeletesThroughTheStore)
{
    AppState state;
    state.setCurrentTool(AnnotationTool::rectangle);
    state.setCurrentColor(QColor(0, 122, 255));
    state.setCurrentLineWidth(7);
    state.setCurrentFontSize(24);
    {
        PresetsMenu menu(state);
        EXPECT_EQ(menu.presets().size(), 3);
        menu.setNewName(QStringLiteral(" \t "));
        EXPECT_FALSE(menu.canSaveName());
        menu.showNamePrompt();
        menu.setNewName(QStringLiteral("  Bold Box  "));
        ASSERT_TRUE(menu.canSaveName());
        menu.saveCurrentAsPreset();
        EXPECT_FALSE(menu.isNamePromptShown());
        EXPECT_TRUE(menu.newName().isEmpty());
    }
    auto stored = AnnotationPreset::decode(*UserDefaults::standard().dataForKey(key));
    ASSERT_TRUE(stored && stored->size() == 4);
    EXPECT_EQ(stored->mid(0, 3), AnnotationPreset::defaults());
    const AnnotationPreset box = stored->at(3);
    EXPECT_EQ(box.name, QStringLiteral("Bold Box"));
    EXPECT_EQ(box.tool, AnnotationTool::rectangle);
    EXPECT_EQ(box.colorHex, QStringLiteral("#007AFF"));
    EXPECT_EQ(box.lineWidth, 7);
    EXPECT_EQ(box.fontSize, 24);

    PresetsMenu menu(state);
    ASSERT_EQ(menu.presets().size(), 4);
    // Applying takes the sizes as they are; a colour that does not parse
    // gives the system red.
    AnnotationPreset odd = box;
    odd.lineWidth = 40;
    odd.colorHex = QStringLiteral("#12345");
    odd.tool = AnnotationTool::text;
    menu.applyPreset(odd);
    EXPECT_EQ(state.currentTool(), AnnotationTool::text);
    EXPECT_EQ(state.currentLineWidth(), 40);
    EXPECT_EQ(state.currentColor(), QColor(255, 59, 48));

    const QList<AnnotationPreset> all = menu.presets();
    for (const AnnotationPreset &p : all)
        menu.deletePreset(p);
    EXPECT_EQ(*UserDefaults::standard().dataForKey(key), QByteArray("[]"));
    // The built-ins do not come back; the menu offers only saving.
    PresetsMenu empty(state);
    EXPECT_TRUE(empty.presets().isEmpty());
    ASSERT_EQ(empty.presetMenu()->actions().size(), 1);
    EXPECT_EQ(empty.presetMenu()->actions()[0]->text(), QStringLiteral("Save current as preset…"));
}

// A preset's name shows in the menu exactly as it was typed: "&" is not an
// accelerator mark and a tab does not split off a shortcut column.
TEST_F(PresetTest, MenuShowsTypedNamesAsTyped)
{
    AppState state;
    state.setCurrentTool(AnnotationTool::rectangle);
    PresetsMenu menu(state);
    for (const AnnotationPreset &p : menu.presets())
        menu.deletePreset(p);
    for (const QString &name : {QStringLiteral("R&D Arrow"), QStringLiteral("Tom && Jerry"),
                                QStringLiteral("Left\tRight&")}) {
        menu.setNewName(name);
        ASSERT_TRUE(menu.canSaveName());
        menu.saveCurrentAsPreset();
    }
    ASSERT_EQ(menu.presets().size(), 3);
    EXPECT_EQ(menu.presets()[0].name, "R&D Arrow") << "stored as typed";

    QMenu *remove = nullptr;
    QStringList shown;
    for (QAction *a : menu.presetMenu()->actions()) {
        if (a->menu())
            remove = a->menu();
        else if (!a->isSeparator())
            shown << shownMenuLabel(a);
        EXPECT_FALSE(hasAccelerator(a)) << a->text().toStdString();
    }
    EXPECT_EQ(shown, (QStringList{"R&D Arrow", "Tom && Jerry", "Left Right&", "Save current as preset…"}));
    ASSERT_TRUE(remove);
    QStringList deletable;
    for (QAction *a : remove->actions()) {
        deletable << shownMenuLabel(a);
        EXPECT_FALSE(hasAccelerator(a)) << a->text().toStdString();
    }
    EXPECT_EQ(deletable, (QStringList{"R&D Arrow", "Tom && Jerry", "Left Right&"}));

    // The item still applies and deletes its own preset.
    state.setCurrentTool(AnnotationTool::text);
    menu.presetMenu()->actions()[0]->trigger();
    EXPECT_EQ(state.currentTool(), AnnotationTool::rectangle);
    remove->actions()[1]->trigger();
    ASSERT_EQ(menu.presets().size(), 2);
    EXPECT_EQ(menu.presets()[1].name, "Left\tRight&");
}
