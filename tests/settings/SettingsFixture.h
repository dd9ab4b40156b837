#pragma once

#include "platform/UserDefaults.h"
#include "settings/SettingsPanels.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <gtest/gtest.h>
#include <optional>

// A fresh home and preference store per test, with the settings window's
// panels, beep and reveal replaced by recorders.
class SettingsFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults::resetStandard();
        TestHome::reset();
        SettingsPanels::setBeep([this] { ++beeps; });
        SettingsPanels::setRevealer([this](const QString &path) { revealed.append(path); });
        SettingsPanels::setFolderChooser([this](QWidget *, SettingsPanels::Completion done) {
            ++panelsShown;
            done(nextChoice);
        });
        SettingsPanels::setApplicationChooser([this](QWidget *, SettingsPanels::Completion done) {
            ++panelsShown;
            done(nextChoice);
        });
    }
    void TearDown() override
    {
        SettingsPanels::setBeep({});
        SettingsPanels::setRevealer({});
        SettingsPanels::setFolderChooser({});
        SettingsPanels::setApplicationChooser({});
        UserDefaults::resetStandard();
    }

    static UserDefaults &defaults() { return UserDefaults::standard(); }
    static QString home() { return TestHome::path(); }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    int beeps = 0;
    int panelsShown = 0;
    QStringList revealed;
    std::optional<QString> nextChoice; // what the next panel returns
};
