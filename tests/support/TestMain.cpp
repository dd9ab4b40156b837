// Every test process runs with HOME and the XDG folders inside a fresh
// temporary folder, so no test ever touches the real home. Every test case
// starts as if it ran in a process of its own: an empty home and fresh
// shared stores, whatever the cases before it left behind.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/StatusItem.h"
#include "model/SettingsPersistence.h"
#include "output/HistoryService.h"
#include "platform/IdleWork.h"
#include "platform/PanelFolders.h"
#include "platform/UserDefaults.h"
#include "services/HotKeyService.h"
#include "services/UpdateChecker.h"
#include "support/TestHome.h"

namespace {

class FreshStartForEachCase : public testing::EmptyTestEventListener
{
    void OnTestStart(const testing::TestInfo &) override { freshStart(); }
    void OnTestEnd(const testing::TestInfo &) override { freshStart(); }

    static void freshStart()
    {
        // Windows and objects a case let go of go now, not in the next case.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Shortcuts a launch grabbed would keep the keys from later cases.
        HotKeyService::shared().unregisterAll();
        // Background drawing ends within its case, and while the
        // application it paints with is there.
        IdleWork::pool().waitForDone();
        // The stores write what they hold before the home is emptied.
        SettingsPersistence::shared().stop();
        HistoryService::resetShared();
        UpdateChecker::resetShared();
        UserDefaults::resetStandard();
        StatusItem::setTrayAvailableOverride(std::nullopt);
        // File panels open where a case says, not where an earlier one chose.
        PanelFolders::forgetAll();
        TestHome::reset();
    }
};

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    TestHome::install();
    // Listing the tests (CTest's discovery) needs no display; test runs get
    // their platform from CTest.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Tests run where the screen cannot be read (offscreen): the launch's
    // screen-access alert would otherwise block every launch. Tests of that
    // alert unset this themselves.
    qputenv("VornaSuppressPermissionPrompt", "1");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshStartForEachCase);
    const int rc = RUN_ALL_TESTS();
    TestHome::remove();
    return rc;
}
