// The file panel the program opens files with, as the user sees it.
#include "platform/OpenPanel.h"

#include "support/ShownFileDialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <algorithm>
#include <optional>

namespace {

// The names the dialog lists in folder under its chosen filter, sorted.
QStringList listed(QFileDialog *dialog, const QString &folder)
{
    QStringList names;
    auto *model = dialog->findChild<QFileSystemModel *>();
    if (!model)
        return names;
    const QModelIndex index = model->index(folder);
    for (int row = 0; row < model->rowCount(index); ++row)
        names << model->index(row, 0, index).data().toString();
    names.sort();
    return names;
}

} // namespace

// A panel for one kind of file lists only that kind; one for several kinds
// starts on a filter that lists all of them and offers one for each kind,
// which lists only it.
TEST(OpenPanel, ThePanelListsOnlyTheKindsAskedForAndOffersEachKindAlone)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char *name : {"settings.json", "notes.txt", "shot.png", "shot.jpg"})
        ASSERT_TRUE(QFile(folder.filePath(name)).open(QIODevice::WriteOnly)) << name;
    std::optional<QString> chosen;
    int completions = 0;
    const auto close = qScopeGuard([] {
        if (QFileDialog *dialog = shownFileDialog())
            dialog->reject();
    });

    OpenPanel::Request json;
    json.mimeTypeFilters = {"application/json"};
    json.directory = folder.path();
    OpenPanel::show(json, [&](std::optional<QString> path) {
        chosen = path;
        ++completions;
    });
    QFileDialog *dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->nameFilters().size(), 1) << dialog->nameFilters().join(" | ").toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed(dialog, folder.path()) == QStringList{"settings.json"}; }, 30000))
        << listed(dialog, folder.path()).join(", ").toStdString();
    dialog->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return completions == 1; }, 30000));
    EXPECT_FALSE(chosen.has_value());
    ASSERT_TRUE(QTest::qWaitFor([] { return shownFileDialog() == nullptr; }, 30000));

    OpenPanel::Request images;
    images.mimeTypeFilters = {"image/png", "image/jpeg"};
    images.allTypesName = "Image Files";
    images.directory = folder.path();
    OpenPanel::show(images, [&](std::optional<QString> path) {
        chosen = path;
        ++completions;
    });
    dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    const QStringList filters = dialog->nameFilters();
    ASSERT_EQ(filters.size(), 3) << filters.join(" | ").toStdString();
    EXPECT_TRUE(dialog->selectedNameFilter().startsWith("Image Files ("));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return listed(dialog, folder.path()) == QStringList({"shot.jpg", "shot.png"}); }, 30000))
        << listed(dialog, folder.path()).join(", ").toStdString();
    for (const QString &kind : {QString("png"), QString("jpg")}) {
        const auto filter = std::find_if(filters.cbegin() + 1, filters.cend(),
                                         [&](const QString &f) { return f.contains("*." + kind); });
        ASSERT_NE(filter, filters.cend()) << kind.toStdString();
        dialog->selectNameFilter(*filter);
        EXPECT_TRUE(QTest::qWaitFor([&] { return listed(dialog, folder.path()) == QStringList{"shot." + kind}; }, 30000))
            << filter->toStdString() << ": " << listed(dialog, folder.path()).join(", ").toStdString();
    }
}
