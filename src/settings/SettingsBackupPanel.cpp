#include "settings/SettingsBackupPanel.h"

#include "model/SettingsPersistence.h"
#include "platform/Localized.h"
#include "settings/SettingsBackup.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsWidgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

SettingsBackupPanel::SettingsBackupPanel(QWidget *parent) : QWidget(parent), m_backup(new SettingsBackup(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto *buttons = new QHBoxLayout;
    m_export = new QPushButton(localized("Export Settings…"));
    m_import = new QPushButton(localized("Import Settings…"));
    m_reveal = new QPushButton(localized("Reveal Backup"));
    buttons->addWidget(m_export);
    buttons->addWidget(m_import);
    buttons->addWidget(m_reveal);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    m_status = SettingsWidgets::caption(QString());
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->hide();
    layout->addWidget(m_status);

    connect(m_export, &QPushButton::clicked, m_backup, &SettingsBackup::exportSettings);
    connect(m_import, &QPushButton::clicked, m_backup, &SettingsBackup::importSettings);
    connect(m_reveal, &QPushButton::clicked, this, &SettingsBackupPanel::revealBackup);
    connect(m_backup, &SettingsBackup::statusChanged, this, [this] {
        const auto status = m_backup->status();
        m_status->setText(status.value_or(QString()));
        m_status->setVisible(status.has_value());
    });
}

void SettingsBackupPanel::revealBackup()
{
    SettingsPanels::reveal(SettingsPersistence::shared().fileURL());
}
