#include "app/AboutPanel.h"

#include "platform/Localized.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPalette>
#include <QVBoxLayout>

QString AboutPanel::Content::credits() const
{
    return buildLine.isEmpty() ? description : description + QStringLiteral("\n\n") + buildLine;
}

QString AboutPanel::prefix(const QString &text, qsizetype n)
{
    return text.left(qMax<qsizetype>(0, n));
}

AboutPanel::Content AboutPanel::content(const BuildInfo &info)
{
    Content c;
    c.applicationName = QStringLiteral("Vorna");
    c.applicationVersion = info.version;
    c.version = info.build;
    c.description = localized("A state-of-the-art screenshot tool for Linux.\nCapture, annotate, beautify, and share.");
    if (!info.commit.isEmpty() || !info.buildDate.isEmpty()) {
        const QString separator = QStringLiteral(" \u00B7 ");
        c.buildLine = info.channel + separator + prefix(info.commit, 7);
        if (!info.buildDate.isEmpty())
            c.buildLine += separator + info.buildDate;
    }
    c.copyright = QStringLiteral("Copyright \u00A9 2025 The Vorna developers");
    return c;
}

AboutPanel::AboutPanel(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(localized("About Vorna"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 20);
    layout->setSpacing(8);

    m_name = new QLabel(this);
    QFont nameFont = font();
    nameFont.setPointSizeF(15);
    nameFont.setBold(true);
    m_name->setFont(nameFont);

    m_version = new QLabel(this);
    QFont small = font();
    small.setPointSizeF(10);
    m_version->setFont(small);

    m_credits = new QLabel(this);
    m_credits->setTextFormat(Qt::RichText);
    m_credits->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_copyright = new QLabel(this);
    m_copyright->setFont(small);

    for (QLabel *l : {m_name, m_version, m_credits, m_copyright}) {
        l->setAlignment(Qt::AlignHCenter);
        layout->addWidget(l);
    }
    layout->insertSpacing(2, 6);
}

void AboutPanel::setContent(const Content &content)
{
    m_content = content;
    m_name->setText(content.applicationName);
    m_version->setText(localized("Version %1 (%2)").arg(content.applicationVersion, content.version));

    // The description in the ordinary 11-point face, secondary colour; the
    // build line in a 10-point monospaced face, fainter still.
    const QPalette pal = palette();
    const QColor secondary = pal.color(QPalette::PlaceholderText);
    QColor tertiary = secondary;
    tertiary.setAlphaF(0.6f);
    const QString mono = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    auto escape = [](const QString &s) { return s.toHtmlEscaped().replace('\n', QStringLiteral("<br>")); };
    QString html = QStringLiteral("<div style=\"font-size:11pt; color:%1;\">%2</div>")
                       .arg(secondary.name(QColor::HexArgb), escape(content.description));
    if (!content.buildLine.isEmpty())
        html += QStringLiteral("<div style=\"font-family:'%1'; font-size:10pt; color:%2;\"><br>%3</div>")
                    .arg(mono.toHtmlEscaped(), tertiary.name(QColor::HexArgb), escape(content.buildLine));
    m_credits->setText(html);
    m_copyright->setText(content.copyright);
    adjustSize();
}
