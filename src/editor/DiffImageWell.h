#pragma once

#include <QImage>
#include <QWidget>

// One pane of the diff window: its title in bold caption type above a
// rounded well that shows an image scaled to fit, or a "Click or drop image"
// prompt while it has none. A click on the well asks for a file; dropping
// files on it offers the first one.
class DiffImageWell : public QWidget
{
    Q_OBJECT
public:
    explicit DiffImageWell(const QString &title, QWidget *parent = nullptr);

    QString title() const { return m_title; }
    const QImage &image() const { return m_image; }
    void setImage(const QImage &image);

    // The well below the title, in this widget's coordinates.
    QRect wellRect() const;
    // Where the image is drawn inside the well (empty without an image).
    QRect imageRect() const;

signals:
    void clicked();
    void fileDropped(const QString &path);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    int titleHeight() const;

    QString m_title;
    QImage m_image;
    bool m_pressedInWell = false;
};
