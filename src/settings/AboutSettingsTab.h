#pragma once

#include <QWidget>

class QLabel;

// The About tab: the program's symbol, name, version and build, what it is,
// and the copyright line. It changes nothing.
class AboutSettingsTab : public QWidget
{
    Q_OBJECT
public:
    explicit AboutSettingsTab(QWidget *parent = nullptr);

    // "Version 1.2 (Build 7)", with "?" for a value the program was not given.
    static QString versionLine();
    QLabel *versionLabel() const { return m_version; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *m_version;
};
