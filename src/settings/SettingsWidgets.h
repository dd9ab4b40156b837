#pragma once

#include <QLabel>
#include <QWidget>
#include <functional>

class QToolButton;
class QVBoxLayout;

// Pieces the settings tabs share.
namespace SettingsWidgets {

// Registers the settings window's symbol drawings (before the first
// SymbolIcon::make of one of them).
void ensureSymbols();
// A caption line in the secondary style (outcome messages, explanations).
QLabel *caption(const QString &text, QWidget *parent = nullptr);
// An icon-only button with a tooltip (and the same accessible name).
QToolButton *iconButton(const QString &symbol, const QString &tooltip, QWidget *parent = nullptr);
// A titled group of a form with an optional caption under it; controls go
// into the returned layout.
QVBoxLayout *section(QVBoxLayout *form, const QString &header, const QString &footer = QString());
// The path with the home folder written as "~" (for showing, never storing).
QString abbreviateHome(const QString &path);

} // namespace SettingsWidgets

// A one-line label that elides its text in the middle to fit its width and
// shows the whole text as its tooltip.
class MiddleElidedLabel : public QLabel
{
public:
    using QLabel::QLabel;
    void setFullText(const QString &text);
    QString fullText() const { return m_full; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();
    QString m_full;
};

// A label with − and + buttons that steps an integer within a range. Unlike
// a spin box it shows any value it is given as it is, also one outside its
// range (a value imported from another machine, say), and never writes a
// value back on its own: only a press produces a new value, and that one
// always lies within the range.
class ValueStepper : public QWidget
{
    Q_OBJECT
public:
    using Formatter = std::function<QString(qint64)>;

    ValueStepper(qint64 minimum, qint64 maximum, qint64 step, Formatter format, QWidget *parent = nullptr);

    qint64 value() const { return m_value; }
    void setValue(qint64 value);
    QString text() const;

    // What a press up or down gives from the current value.
    qint64 steppedUp() const;
    qint64 steppedDown() const;
    void stepUp();
    void stepDown();

    QLabel *label() const { return m_label; }
    QToolButton *upButton() const { return m_up; }
    QToolButton *downButton() const { return m_down; }

signals:
    // A press chose a new value (not emitted by setValue).
    void valueChosen(qint64 value);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void refresh();

    qint64 m_minimum, m_maximum, m_step;
    qint64 m_value = 0;
    Formatter m_format;
    QLabel *m_label;
    QToolButton *m_down;
    QToolButton *m_up;
};
