// Where the file panels open: captures are saved and exported from the save
// folder, settings backed up from the home folder, and each panel then opens
// where it was last used in the run, never in the folder the program was
// started from.
#include "editor/EditorView.h"
#include "model/AppState.h"
#include "model/HistoryItem.h"
#include "settings/SettingsBackup.h"
#include "settings/SettingsPanels.h"
#include "support/Eventually.h"
#include "support/RecordingAlertPresenter.h"
#include "support/ScriptedFilePanels.h"
#include "support/ShownFileDialog.h"
#include "support/TestHome.h"
#include "windows/BatchExport.h"
#include "windows/HistoryActions.h"

#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QString folder(const QString &name)
{
    const QString path = TestHome::path() + QLatin1Char('/') + name;
    QDir().mkpath(path);
    return path;
}

} // namespace

TEST(FilePanels, EachOpensInItsOwnFolderAndThenWhereItWasLastUsed)
{
    RecordingAlertPresenter alerts;
    ScriptedFilePanels panels;
    // Waits for the next panel and tells where it opened.
    qsizetype seen = 0;
    auto next = [&] {
        if (!QTest::qWaitFor([&] { return panels.directories.size() > seen; }, 10000))
            return QStringLiteral("(no panel)");
        return panels.directories.at(seen++);
    };
    AppState appState;
    const QString shots = folder("Shots");
    const QString elsewhere = folder("Elsewhere");
    appState.setSaveDirectory(shots);
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    appState.setCapturedImage(ImageHandle(image));
    HistoryItem capture;
    capture.id = QUuid::createUuid();
    capture.image = ImageHandle(image);
    capture.date = QDateTime::currentDateTime();

    // Save As, from the editor or from a capture of the history, is one
    // panel: it starts in the save folder, then opens where it last saved.
    EditorView editor(appState);
    editor.saveImageAs();
    EXPECT_EQ(next(), shots);
    panels.choose(elsewhere + "/one.png");
    ASSERT_EVENTUALLY(QFile::exists(elsewhere + "/one.png"), 10000);
    HistoryActions::saveAs(appState, capture);
    EXPECT_EQ(next(), elsewhere);
    panels.choose(std::nullopt); // cancelled: remembers nothing
    editor.saveImageAs();
    EXPECT_EQ(next(), elsewhere);
    panels.choose(std::nullopt);

    // Batch export keeps its own folder, starting in the save folder.
    ASSERT_TRUE(BatchExport::start(appState, {capture}));
    EXPECT_EQ(next(), shots);
    const QString exports = folder("Exports");
    panels.choose(exports);
    ASSERT_EVENTUALLY_EQ(alerts.alerts.size(), 1, 10000);
    BatchExport::start(appState, {capture});
    EXPECT_EQ(next(), exports);
    panels.choose(std::nullopt);

    // Settings export and import each start in the home folder.
    SettingsBackup backup;
    const QString backups = folder("Backups");
    backup.exportSettings();
    EXPECT_EQ(next(), QDir::homePath());
    panels.choose(backups + "/Vorna-Settings.json");
    backup.importSettings();
    EXPECT_EQ(next(), QDir::homePath());
    panels.choose(backups + "/Vorna-Settings.json");
    EXPECT_TRUE(backup.status()->startsWith("Imported ")) << backup.status()->toStdString();
    backup.exportSettings();
    EXPECT_EQ(next(), backups);
    panels.choose(std::nullopt);
    backup.importSettings();
    EXPECT_EQ(next(), backups);
    panels.choose(std::nullopt);
    editor.saveImageAs();
    EXPECT_EQ(next(), elsewhere);
    panels.choose(std::nullopt);
}

// The folder panels behind the save-folder choosers are real dialogs.
TEST(FilePanels, TheSaveFolderPanelStartsAtHomeAndThenWhereAFolderWasChosen)
{
    const QString chosen = folder("Chosen");
    std::optional<QString> result;
    SettingsPanels::showFolderPanel(nullptr, [&](std::optional<QString> path) { result = path; });
    QFileDialog *dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->directory().absolutePath(), QDir::homePath());
    dialog->setDirectory(chosen);
    QMetaObject::invokeMethod(dialog, "accept");
    ASSERT_EVENTUALLY(result.has_value(), 30000);
    EXPECT_EQ(*result, chosen);
    ASSERT_EVENTUALLY_EQ(shownFileDialog(), nullptr, 30000);

    SettingsPanels::showFolderPanel(nullptr, [&](std::optional<QString> path) { result = path; });
    dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->directory().absolutePath(), chosen);
    dialog->reject();
}
