// The default save panel: a non-modal file dialog that reports the chosen
// path, or nothing, through its completion.

#include "platform/SavePanel.h"
#include "support/Eventually.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

QFileDialog *openDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
            return d;
    return nullptr;
}

} // namespace

TEST(DefaultSavePanel, DefaultPanelIsANonModalDialogThatReportsTheChosenPath)
{
    std::optional<std::optional<QString>> result;
    SavePanel::Request request;
    request.suggestedName = "Vorna_2026-03-03_14-05-09.webp";
    request.mimeTypeFilters = {"image/webp"};
    request.defaultSuffix = "webp";
    SavePanel::current().begin(request, [&](std::optional<QString> path) { result = path; });

    QFileDialog *dialog = openDialog();
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
    ASSERT_EVENTUALLY(result.has_value(), 5000);
    EXPECT_EQ(**result, path);
}

TEST(DefaultSavePanel, CancellingTheDefaultPanelReportsNothing)
{
    std::optional<std::optional<QString>> result;
    SavePanel::current().begin(SavePanel::Request{}, [&](std::optional<QString> path) { result = path; });
    QFileDialog *dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
    ASSERT_EVENTUALLY(result.has_value(), 5000);
    EXPECT_FALSE(result->has_value());
    // The dialog deletes itself once closed.
    ASSERT_EVENTUALLY_EQ(openDialog(), nullptr, 5000);
}
