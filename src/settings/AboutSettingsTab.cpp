#include "settings/AboutSettingsTab.h"

#include "platform/BundleInfo.h"
#include "platform/Localized.h"
#include "platform/SymbolIcon.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

AboutSettingsTab::AboutSettingsTab(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 30, 0, 0);
    layout->setSpacing(16);

    auto *symbol = new QLabel;
    symbol->setPixmap(SymbolIcon::make(QStringLiteral("camera.viewfinder")).pixmap(64, 64));
    symbol->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol);

    auto *name = new QLabel(QStringLiteral("Vorna"));
    QFont title = name->font();
    title.setPointSizeF(title.pointSizeF() * 2.2);
    title.setBold(true);
    name->setFont(title);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);

    m_version = new QLabel(versionLine());
    m_version->setAlignment(Qt::AlignCenter);
    m_version->setForegroundRole(QPalette::PlaceholderText);
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_version);

    auto *description = new QLabel(localized("A state-of-the-art screenshot tool for Linux.") + u'\n'
                                   + localized("Capture, annotate, beautify, and share."));
    description->setAlignment(Qt::AlignCenter);
    description->setWordWrap(true);
    description->setForegroundRole(QPalette::PlaceholderText);
    description->setContentsMargins(40, 0, 40, 0);
    layout->addWidget(description);

    auto *divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    auto *dividerRow = new QVBoxLayout;
    dividerRow->setContentsMargins(60, 0, 60, 0);
    dividerRow->addWidget(divider);
    layout->addLayout(dividerRow);

    auto *copyright = new QLabel(localized("Copyright © 2025 The Vorna developers"));
    QFont small = copyright->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    copyright->setFont(small);
    copyright->setAlignment(Qt::AlignCenter);
    copyright->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(copyright);
    layout->addStretch(1);
}

QString AboutSettingsTab::versionLine()
{
    const QString version = BundleInfo::shortVersionString().value_or(QStringLiteral("?"));
    const QString build = BundleInfo::bundleVersion().value_or(QStringLiteral("?"));
    return localized("Version %1 (Build %2)").arg(version, build);
}

void AboutSettingsTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_version->setText(versionLine());
}
