// A long list of saved folders: the list is written to the preference file
// as at a launch after an import, and read back by a new AppState.
//
//   BM_LoadSavedFolders        reading the list when the state is made
//   BM_OpenSaveTo              opening the "Save To" submenu, with the
//                              number of entries it then holds
//   BM_OpenSettings            building and showing the settings window on
//                              its General page (the saved-folders editor)
//   BM_TrayMenuWithSettings    opening the tray menu while that window is
//                              open
//   BM_RemoveOneFolder         removing one folder in the editor, until the
//                              editor and the menu show the shorter list
//
// Each reports the resident memory it added (rss_added_kb). The argument is
// the number of folders.
//
// Run: build/bench/SavedFoldersBench [--benchmark_filter=...]
#include "app/MenuBuilder.h"
#include "app/SaveToMenus.h"
#include "model/AppState.h"
#include "platform/UserDefaults.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/SavedFoldersEditor.h"
#include "settings/SettingsView.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

using BenchSupport::statusKb;

namespace {

std::unique_ptr<QTemporaryDir> g_home;

// count folders of a realistic length (about 35 characters each).
QByteArray folderList(int count)
{
    QJsonArray list;
    for (int i = 0; i < count; ++i)
        list.append(QStringLiteral("/home/user/Projects/client-%1/shots").arg(i, 6, 10, QLatin1Char('0')));
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

// A fresh preference store holding count folders, as a launch finds it.
void storeFolders(int count)
{
    if (!g_home) {
        g_home = std::make_unique<QTemporaryDir>();
        BenchSupport::pointXdgAt(g_home->path());
    }
    UserDefaults::resetStandard();
    UserDefaults::standard().setData(QStringLiteral("savedPaths"), folderList(count));
}

void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Opens the menu as a click does and waits until it is on screen.
void openMenu(QMenu *menu)
{
    menu->popup(QPoint(10, 10));
    settle();
}

void BM_LoadSavedFolders(benchmark::State &state)
{
    storeFolders(int(state.range(0)));
    for (auto _ : state) {
        AppState appState;
        benchmark::DoNotOptimize(appState.savedPaths().size());
    }
}
BENCHMARK(BM_LoadSavedFolders)->Arg(5000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenSaveTo(benchmark::State &state)
{
    storeFolders(int(state.range(0)));
    AppState appState;
    SaveToMenus saveTo(appState, [] {});
    QMenu *menu = saveTo.createMenu();
    const qint64 before = statusKb("VmRSS:");
    for (auto _ : state) {
        openMenu(menu);
        state.PauseTiming();
        menu->hide();
        settle();
        state.ResumeTiming();
    }
    state.counters["entries"] = double(menu->actions().size());
    state.counters["rss_added_kb"] = double(statusKb("VmRSS:") - before);
    delete menu;
}
BENCHMARK(BM_OpenSaveTo)->Arg(5000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenSettings(benchmark::State &state)
{
    storeFolders(int(state.range(0)));
    AppState appState;
    const qint64 before = statusKb("VmRSS:");
    for (auto _ : state) {
        auto view = std::make_unique<SettingsView>(appState, QStringLiteral("general"));
        view->resize(540, 700);
        view->show();
        settle();
        benchmark::DoNotOptimize(view->grab());
        state.PauseTiming();
        state.counters["rss_added_kb"] = double(statusKb("VmRSS:") - before);
        view.reset();
        settle();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenSettings)->Arg(5000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TrayMenuWithSettings(benchmark::State &state)
{
    storeFolders(int(state.range(0)));
    AppState appState;
    SaveToMenus saveTo(appState, [] {});
    MenuBuilder builder(MenuActions{}, saveTo);
    std::unique_ptr<QMenu> tray(builder.buildStatusMenu(false));
    SettingsView view(appState, QStringLiteral("general"));
    view.resize(540, 700);
    view.show();
    settle();
    for (auto _ : state) {
        openMenu(tray.get());
        state.PauseTiming();
        tray->hide();
        settle();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TrayMenuWithSettings)->Arg(5000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RemoveOneFolder(benchmark::State &state)
{
    storeFolders(int(state.range(0)));
    AppState appState;
    SaveToMenus saveTo(appState, [] {});
    QMenu *menu = saveTo.createMenu();
    SettingsView view(appState, QStringLiteral("general"));
    view.resize(540, 700);
    view.show();
    settle();
    SavedFoldersEditor *editor = view.generalTab()->savedFolders();
    for (auto _ : state) {
        const QStringList paths = editor->paths();
        editor->remove(paths.at(paths.size() / 2));
        settle();
        openMenu(menu);
        state.PauseTiming();
        menu->hide();
        settle();
        state.ResumeTiming();
    }
    state.counters["left"] = double(appState.savedPaths().size());
    delete menu;
}
BENCHMARK(BM_RemoveOneFolder)->Arg(5000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    return BenchSupport::runOnOffscreenScreen<QApplication>(argc, argv, "bench", 1440, 900);
}
