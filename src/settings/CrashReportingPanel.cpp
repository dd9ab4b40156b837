#include "settings/CrashReportingPanel.h"

#include "platform/Localized.h"
#include "platform/SentrySDK.h"
#include "platform/SymbolIcon.h"
#include "services/CrashReporting.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsWidgets.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CrashReportingPanel::CrashReportingPanel(const AppSettings &settings, QWidget *parent)
    : QWidget(parent), m_settings(settings)
{
    SettingsWidgets::ensureSymbols();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    m_toggle = new QCheckBox(localized("Send anonymous crash reports"));
    layout->addWidget(m_toggle);
    layout->addWidget(SettingsWidgets::caption(localized(
        "Only uncaught crashes and explicit error captures are sent. No breadcrumbs, no file paths, no personal data.")));

    auto *statusLine = new QHBoxLayout;
    m_statusIcon = new QLabel;
    m_statusIcon->setFixedWidth(16);
    m_statusText = new QLabel;
    m_statusText->setWordWrap(true);
    m_statusText->setTextFormat(Qt::PlainText);
    statusLine->addWidget(m_statusIcon);
    statusLine->addWidget(m_statusText, 1);
    layout->addLayout(statusLine);

    m_error = SettingsWidgets::caption(QString());
    m_error->hide();
    layout->addWidget(m_error);

    auto *fileLine = new QHBoxLayout;
    fileLine->setSpacing(6);
    auto *path = new MiddleElidedLabel;
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(m_statusText->font().pointSizeF() * 0.85);
    path->setFont(mono);
    path->setForegroundRole(QPalette::PlaceholderText);
    path->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    path->setFullText(AppSettings::fileURL().toLocalFile());
    m_path = path;
    auto *revealButton = new QPushButton(localized("Reveal"));
    auto *reloadButton = new QPushButton(localized("Reload"));
    revealButton->setFlat(true);
    reloadButton->setFlat(true);
    fileLine->addWidget(m_path, 1);
    fileLine->addWidget(revealButton);
    fileLine->addWidget(reloadButton);
    layout->addLayout(fileLine);

    connect(m_toggle, &QCheckBox::clicked, this, &CrashReportingPanel::setReportingEnabled);
    connect(revealButton, &QPushButton::clicked, this, &CrashReportingPanel::reveal);
    connect(reloadButton, &QPushButton::clicked, this, &CrashReportingPanel::reload);
    refresh();
}

bool CrashReportingPanel::isActive(const AppSettings &settings)
{
    // All white space, line breaks included: a DSN of "\n" sends nothing.
    // A DSN the client cannot parse leaves it off, so it is not active either.
    return settings.sentry.enabled && !settings.sentry.dsn.trimmed().isEmpty()
           && CrashReporting::dsnIsValid(settings.sentry);
}

QString CrashReportingPanel::statusText(const AppSettings &settings)
{
    if (!settings.sentry.enabled)
        return localized("Disabled in appsettings.json.");
    if (settings.sentry.dsn.trimmed().isEmpty())
        return localized("No Sentry DSN configured — nothing is sent.");
    QString why;
    if (!CrashReporting::dsnIsValid(settings.sentry, &why))
        return localized("The Sentry DSN cannot be used (") + why + localized(") — nothing is sent.");
    return localized("Crash-only reporting active. Environment: ") + settings.sentry.environment + QStringLiteral(".");
}

void CrashReportingPanel::setReportingEnabled(bool enabled)
{
    AppSettings next = m_settings;
    next.sentry.enabled = enabled;
    QString error;
    if (!AppSettings::save(next, &error)) {
        // What is not in the file would be undone at the next start: keep
        // showing (and running) what the file says.
        m_error->setText(localized("Could not save appsettings.json: ") + error);
        m_error->show();
        refresh();
        return;
    }
    m_settings = next;
    m_error->hide();
    if (enabled) {
        if (isActive(m_settings))
            CrashReporting::startCrashReporting(m_settings.sentry);
    } else {
        SentrySDK::close();
    }
    refresh();
}

void CrashReportingPanel::reveal()
{
    SettingsPanels::reveal(AppSettings::fileURL().toLocalFile());
}

void CrashReportingPanel::reload()
{
    m_settings = AppSettings::load();
    m_error->hide();
    refresh();
}

void CrashReportingPanel::refresh()
{
    m_toggle->setChecked(m_settings.sentry.enabled);
    const bool active = isActive(m_settings);
    QIcon icon = SymbolIcon::make(active ? QStringLiteral("checkmark.shield") : QStringLiteral("lock.shield"));
    m_statusIcon->setPixmap(icon.pixmap(16, 16));
    m_statusText->setText(statusText(m_settings));
}
