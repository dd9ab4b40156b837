#pragma once

#include "model/BuildInfo.h"

#include <QDialog>
#include <QString>

class QLabel;

// The About panel: the program's name, its version and build, a short
// description with the build's channel, commit and date, and the copyright
// line. One panel, shown again on every request.
class AboutPanel : public QDialog
{
    Q_OBJECT
public:
    struct Content
    {
        QString applicationName;    // "Vorna"
        QString applicationVersion; // the marketing version
        QString version;            // the build number
        QString description;        // the credits' first part
        QString buildLine;          // the credits' second part, or empty
        QString copyright;

        // Both parts of the credits, as one text ("\n\n" between them).
        QString credits() const;
    };

    static Content content(const BuildInfo &info);
    // At most the first n characters of text (all of it when shorter).
    static QString prefix(const QString &text, qsizetype n);

    explicit AboutPanel(QWidget *parent = nullptr);

    void setContent(const Content &content);
    const Content &shownContent() const { return m_content; }

private:
    Content m_content;
    QLabel *m_name = nullptr;
    QLabel *m_version = nullptr;
    QLabel *m_credits = nullptr;
    QLabel *m_copyright = nullptr;
};
