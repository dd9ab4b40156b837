// The default save panel: a non-modal file dialog that reports the chosen
// path, or nothing, through its completion.

#include "platform/OpenPanel.h"
#include "platform/SavePanel.h"
#include "support/Eventually.h"
#include "support/ShownFileDialog.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

#include <gtest/gtest.h>


TEST(DefaultSavePanel, DefaultPanelIsANonModalDialogThatReportsTheChosenPath)
{
    std::optional<std::optional<QString>> result;
    SavePanel::Request request;
    request.suggestedName = "Vorna_2026-03-03_14-05-09.webp";
    request.mimeTypeFilters = {"image/webp"};
    request.defaultSuffix = "webp";
    SavePanel::current().begin(request, [&](std::optional<QString> path) { result = path; });

    QFileDialog *dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->defaultSuffix(), "webp");
    EXPECT_FALSE(dialog->testOption(QFileDialog::ReadOnly)); // folders can be created
    const QLineEdit *name = dialog->findChild<QLineEdit *>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "Vorna_2026-03-03_14-05-09.webp");
    EXPECT_FALSE(result.has_value()); // begin returned before any answer

    const QString path = TestHome::path() + "/picked.webp";
    dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept");
    ASSERT_EVENTUALLY(result.has_value(), 30000);
    EXPECT_EQ(**result, path);
}

TEST(DefaultSavePanel, CancellingTheDefaultPanelReportsNothing)
{
    std::optional<std::optional<QString>> result;
    SavePanel::current().begin(SavePanel::Request{}, [&](std::optional<QString> path) { result = path; });
    QFileDialog *dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
    ASSERT_EVENTUALLY(result.has_value(), 30000);
    EXPECT_FALSE(result->has_value());
    // The dialog deletes itself once closed.
    ASSERT_EVENTUALLY_EQ(shownFileDialog(), nullptr, 30000);
}

TEST(DefaultSavePanel, DefaultPanelsOpenInTheFolderAskedForOrTheNearestThatExists)
{
    // A save folder not made yet: its nearest existing parent.
    QDir().mkpath(TestHome::path() + "/Pictures");
    SavePanel::Request save;
    save.directory = TestHome::path() + "/Pictures/Vorna/Later";
    SavePanel::current().begin(save, [](std::optional<QString>) {});
    QFileDialog *dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->directory().absolutePath(), TestHome::path() + "/Pictures");
    dialog->reject();
    ASSERT_EVENTUALLY_EQ(shownFileDialog(), nullptr, 30000);

    // None asked for: the home folder, not the one the program runs in.
    ASSERT_NE(QDir::currentPath(), QDir::homePath());
    OpenPanel::current().begin(OpenPanel::Request{}, [](std::optional<QString>) {});
    dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->directory().absolutePath(), QDir::homePath());
    dialog->reject();
    ASSERT_EVENTUALLY_EQ(shownFileDialog(), nullptr, 30000);
}
