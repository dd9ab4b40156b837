// Every test process runs with HOME and the XDG folders inside a fresh
// temporary folder, so no test ever touches the real home.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/TestHome.h"

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
    const int rc = RUN_ALL_TESTS();
    TestHome::remove();
    return rc;
}
