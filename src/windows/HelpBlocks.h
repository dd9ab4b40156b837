#pragma once

#include <QLabel>
#include <QWidget>

// The building blocks of the help pages. Each shows the texts it is given as
// they are (the page builders translate them) and keeps no state. Secondary
// text uses the palette's placeholder colour, tinted parts its highlight.

namespace HelpStyle {
enum class Role { title, title3, headline, body, caption };
QFont font(const QFont &base, Role role);
QFont monospaced(const QFont &base);
QColor secondary(const QPalette &palette);
QColor quaternaryFill(const QPalette &palette);
QColor tint(const QPalette &palette);
// The symbol drawn in one colour (theme icons are mostly symbolic), or a null
// pixmap when there is no image for the name.
QPixmap tintedSymbol(const QString &symbol, int size, const QColor &color, qreal devicePixelRatio);
} // namespace HelpStyle

// Page title.
class HelpTitle : public QLabel
{
    Q_OBJECT
public:
    explicit HelpTitle(const QString &text, QWidget *parent = nullptr);
};

// Section heading inside a page, with a little room above it.
class HelpSubtitle : public QLabel
{
    Q_OBJECT
public:
    explicit HelpSubtitle(const QString &text, QWidget *parent = nullptr);
};

// A paragraph in the secondary colour; wraps.
class HelpBody : public QLabel
{
    Q_OBJECT
public:
    explicit HelpBody(const QString &text, QWidget *parent = nullptr);
};

// A numbered step: the number on a tinted disc, then the text.
class HelpStep : public QWidget
{
    Q_OBJECT
public:
    HelpStep(qint64 number, const QString &text, QWidget *parent = nullptr);
    qint64 number() const { return m_number; }
    QString text() const;
    QWidget *badge() const { return m_badge; }
    QLabel *label() const { return m_label; }

private:
    qint64 m_number;
    QWidget *m_badge;
    QLabel *m_label;
};

// A feature: its symbol in the tint, then a headline and a wrapping description.
class HelpFeature : public QWidget
{
    Q_OBJECT
public:
    HelpFeature(const QString &icon, const QString &title, const QString &description, QWidget *parent = nullptr);
    QString icon() const { return m_icon; }
    QString title() const;
    QString description() const;
    QLabel *iconLabel() const { return m_iconLabel; }
    QLabel *titleLabel() const { return m_titleLabel; }
    QLabel *descriptionLabel() const { return m_descriptionLabel; }

private:
    QString m_icon;
    QLabel *m_iconLabel;
    QLabel *m_titleLabel;
    QLabel *m_descriptionLabel;
};

// A key-combination badge in monospaced type on a faint rounded background.
class HelpShortcut : public QLabel
{
    Q_OBJECT
public:
    explicit HelpShortcut(const QString &text, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A tip on a card tinted yellow: a light bulb, then the wrapping text.
class HelpTip : public QWidget
{
    Q_OBJECT
public:
    explicit HelpTip(const QString &text, QWidget *parent = nullptr);
    QString text() const;
    QLabel *label() const { return m_label; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_label;
};

// One row of a shortcut table: the action on the left, the keys on the right.
class ShortcutHelpRow : public QWidget
{
    Q_OBJECT
public:
    ShortcutHelpRow(const QString &shortcut, const QString &action, QWidget *parent = nullptr);
    QString shortcut() const;
    QString action() const;
    QLabel *shortcutLabel() const { return m_shortcutLabel; }
    QLabel *actionLabel() const { return m_actionLabel; }

private:
    QLabel *m_shortcutLabel;
    QLabel *m_actionLabel;
};

// A shortcut table: rows on a faint rounded card.
class HelpShortcutBox : public QWidget
{
    Q_OBJECT
public:
    explicit HelpShortcutBox(const QList<ShortcutHelpRow *> &rows, QWidget *parent = nullptr);
    QList<ShortcutHelpRow *> rows() const { return m_rows; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<ShortcutHelpRow *> m_rows;
};
