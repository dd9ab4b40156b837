#pragma once

// What the benchmarks that take real captures put on the X screen, and the
// hot key they press: a full-screen window shown by a child process, as
// another program's window would be, so that what our own windows uncover
// is repainted there and not on the UI thread under test. It shows one of
// two pictures and can be told to switch:
//
//   desktop     columns of text, a photo, gradients, charts and icons
//   photograph  a photograph-like wallpaper over the whole screen: smooth
//               colour with the fine grain of a camera picture, what costs
//               a PNG writer most

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QScreen>
#include <QSocketNotifier>
#include <QWidget>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <iterator>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace BenchScreen {

enum class Picture : char { desktop = 'd', photograph = 'p' };

inline const char *pictureName(Picture picture)
{
    return picture == Picture::desktop ? "desktop" : "photograph";
}

// Smooth colour over the whole image (a sky going into a landscape, with
// soft blotches of light) and the fine grain of a camera picture on every
// pixel: mostly in brightness, a little in colour.
inline QImage photograph(const QSize &size)
{
    QImage img(size, QImage::Format_RGB32);
    QRandomGenerator rng(1234);
    const double w = size.width(), h = size.height();
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        const double v = y / h;
        for (int x = 0; x < size.width(); ++x) {
            const double u = x / w;
            const double light = 0.5 + 0.25 * std::sin(6.1 * u + 1.3 * v) * std::cos(4.7 * v - 2.2 * u)
                + 0.15 * std::sin(13.0 * u * v + 0.7);
            const double r = 70 + 150 * light + 30 * v;
            const double g = 60 + 110 * light + 50 * std::sin(3.0 * u + 2.0);
            const double b = 140 - 60 * v + 80 * light * (1 - v);
            const quint32 noise = rng.generate();
            const int grain = int(noise % 15) - 7;
            const int tint = int((noise >> 8) % 5) - 2;
            auto clamp = [](double c) { return std::clamp(int(std::lround(c)), 0, 255); };
            line[x] = qRgb(clamp(r + grain + tint), clamp(g + grain), clamp(b + grain - tint));
        }
    }
    return img;
}

// A desktop's worth of content: columns of text, a photo-like picture,
// gradients, charts and icons, on a canvas of `points` at `ratio` pixels
// per point.
inline void paintDesktop(QPainter &p, const QSize &points, qreal ratio)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.fillRect(QRect(QPoint(0, 0), points), QColor(246, 246, 248));
    QRandomGenerator rng(42);
    static const char *words[] = {"capture", "screen", "window", "region", "history", "the", "of", "and",
                                  "preview", "editor", "save", "folder", "image", "format", "quality",
                                  "pixel", "point", "scroll", "timer", "menu", "shortcut", "press"};
    // Three columns of text.
    for (int col = 0; col < 3; ++col) {
        const int x0 = 20 + col * 300;
        p.fillRect(x0 - 8, 14, 290, points.height() - 28, Qt::white);
        int y = 36;
        for (int line = 0; y < points.height() - 30; ++line) {
            QFont f(QStringLiteral("DejaVu Sans"), line % 9 == 0 ? 15 : 10);
            f.setBold(line % 9 == 0);
            p.setFont(f);
            p.setPen(line % 9 == 0 ? QColor(20, 20, 30) : QColor(60, 60, 70));
            QString text;
            const int n = 5 + int(rng.bounded(6));
            for (int w = 0; w < n; ++w)
                text += QString::fromLatin1(words[rng.bounded(int(std::size(words)))]) + QLatin1Char(' ');
            p.drawText(x0, y, text);
            y += line % 9 == 0 ? 24 : 15;
        }
    }
    // A photo: smooth colour noise.
    const QRect photo(930, 20, 490, 330);
    QImage img(photo.size() * ratio, QImage::Format_RGB32);
    for (int yy = 0; yy < img.height(); ++yy) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(yy));
        for (int xx = 0; xx < img.width(); ++xx) {
            const double u = xx / 37.0, v = yy / 29.0;
            const int r = int(128 + 90 * std::sin(u) * std::cos(v * 0.7) + rng.bounded(24));
            const int g = int(120 + 80 * std::sin(u * 0.5 + v) + rng.bounded(24));
            const int b = int(110 + 100 * std::cos(u * 0.3 - v * 0.6) + rng.bounded(24));
            line[xx] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    img.setDevicePixelRatio(ratio);
    p.drawImage(photo.topLeft(), img);
    // Gradients and a bar chart.
    QLinearGradient grad(930, 370, 1420, 520);
    grad.setColorAt(0, QColor(40, 110, 240));
    grad.setColorAt(1, QColor(240, 80, 140));
    p.fillRect(QRect(930, 370, 490, 150), grad);
    for (int i = 0; i < 16; ++i) {
        const int h = 30 + int(rng.bounded(300));
        p.fillRect(QRect(940 + i * 30, 880 - h, 22, h), QColor::fromHsv(i * 22, 160, 220));
    }
    // Icons.
    for (int i = 0; i < 12; ++i) {
        p.setBrush(QColor::fromHsv(i * 30, 200, 230));
        p.setPen(QPen(Qt::black, 1.5));
        p.drawRoundedRect(QRectF(940 + i * 40, 540, 32, 32), 7, 7);
    }
}

// The window the child shows.
class ContentWindow : public QWidget
{
public:
    ContentWindow()
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    void show(Picture picture)
    {
        if (picture != m_picture)
            m_content = QImage();
        m_picture = picture;
        update();
    }

protected:
    // Drawn once a picture; afterwards only the part the server asks for is
    // copied.
    void paintEvent(QPaintEvent *event) override
    {
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = size() * ratio;
        if (m_content.isNull() || m_content.size() != pixels) {
            if (m_picture == Picture::photograph) {
                m_content = photograph(pixels);
                m_content.setDevicePixelRatio(ratio);
            } else {
                m_content = QImage(pixels, QImage::Format_RGB32);
                m_content.setDevicePixelRatio(ratio);
                QPainter p(&m_content);
                paintDesktop(p, size(), ratio);
            }
        }
        QPainter p(this);
        p.drawImage(event->rect(), m_content,
                    QRectF(QRectF(event->rect()).topLeft() * ratio, QSizeF(event->rect().size()) * ratio));
    }

private:
    Picture m_picture = Picture::desktop;
    QImage m_content;
};

// The child showing the content; it ends with this process.
struct Content
{
    pid_t pid = -1;
    int control = -1; // a picture's letter written here switches to it
    int ready = -1;   // a byte comes back once it is on screen

    explicit operator bool() const { return pid > 0; }

    // Switches the picture and returns once the child has painted it.
    bool show(Picture picture) const
    {
        const char letter = char(picture);
        char done = 0;
        return ::write(control, &letter, 1) == 1 && ::read(ready, &done, 1) == 1;
    }

    void stop()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
};

// Lets the child's event loop run for ms (painting what the server asks for).
inline void settle(int ms)
{
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// Shows the desktop picture full screen from a child process; returns once it
// is on screen.
inline Content showContentInAnotherProcess(int argc, char **argv)
{
    int control[2], ready[2];
    if (::pipe(control) != 0 || ::pipe(ready) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(control[1]);
        ::close(ready[0]);
        QApplication app(argc, argv);
        ContentWindow content;
        content.setGeometry(QGuiApplication::primaryScreen()->geometry());
        content.QWidget::show();
        settle(1000);
        const char done = 1;
        (void)!::write(ready[1], &done, 1);
        QSocketNotifier orders(control[0], QSocketNotifier::Read);
        QObject::connect(&orders, &QSocketNotifier::activated, &content, [&] {
            char letter = 0;
            if (::read(control[0], &letter, 1) != 1) {
                app.quit();
                return;
            }
            content.show(Picture(letter));
            content.repaint();
            settle(300);
            (void)!::write(ready[1], &done, 1);
        });
        app.exec();
        _exit(0);
    }
    ::close(control[0]);
    ::close(ready[1]);
    char done = 0;
    if (::read(ready[0], &done, 1) != 1) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        return {};
    }
    return {pid, control[1], ready[0]};
}

inline void fakeKey(xcb_connection_t *c, xcb_window_t root, quint8 type, quint8 keycode)
{
    xcb_test_fake_input(c, type, keycode, XCB_CURRENT_TIME, root, 0, 0, 0);
}

// Ctrl+Shift+1 (full screen) through XTest, as a keyboard would send it.
inline void pressHotKey(xcb_connection_t *c, xcb_window_t root)
{
    constexpr quint8 control = 37, shift = 50, one = 10;
    fakeKey(c, root, XCB_KEY_PRESS, control);
    fakeKey(c, root, XCB_KEY_PRESS, shift);
    fakeKey(c, root, XCB_KEY_PRESS, one);
    fakeKey(c, root, XCB_KEY_RELEASE, one);
    fakeKey(c, root, XCB_KEY_RELEASE, shift);
    fakeKey(c, root, XCB_KEY_RELEASE, control);
    xcb_flush(c);
}

} // namespace BenchScreen
