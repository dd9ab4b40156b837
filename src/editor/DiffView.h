#pragma once

#include <QImage>
#include <QWidget>

// The root view of the screenshot diff window: two images to compare, their
// difference image, and the threshold above which a pixel counts as changed.
// It starts empty, with threshold 0.1.
class DiffView : public QWidget
{
    Q_OBJECT
public:
    explicit DiffView(QWidget *parent = nullptr);

    const QImage &firstImage() const { return m_firstImage; }
    const QImage &secondImage() const { return m_secondImage; }
    const QImage &differenceImage() const { return m_differenceImage; }
    double threshold() const { return m_threshold; }
    bool isProcessing() const { return m_isProcessing; }

private:
    QImage m_firstImage;
    QImage m_secondImage;
    QImage m_differenceImage;
    double m_threshold = 0.1;
    bool m_isProcessing = false;
};
