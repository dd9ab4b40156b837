// A capture on the clipboard, pasted by another X client as PNG while the
// PNG is still being made.
#include "output/ClipboardImage.h"

#include "output/PngEncoder.h"
#include "platform/X11Connection.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPromise>
#include <QTest>
#include <QTimer>
#include <QtConcurrent>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

namespace {

// What a program pasting the clipboard as PNG gets, from its own connection;
// nothing when the owner refuses or does not answer within 5 s (Qt answers a
// type it cannot give with an empty property).
std::optional<QByteArray> pastePng(const std::vector<xcb_atom_t> &clipboardPngProperty)
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return std::nullopt;
    }
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0,
                      1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t property = clipboardPngProperty[2];
    xcb_convert_selection(c, window, clipboardPngProperty[0], clipboardPngProperty[1], property, XCB_CURRENT_TIME);
    xcb_flush(c);
    std::optional<QByteArray> pasted;
    QElapsedTimer clock;
    clock.start();
    bool answered = false;
    while (!answered && clock.elapsed() < 30000) {
        xcb_generic_event_t *event = xcb_poll_for_event(c);
        if (!event) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
            answered = true;
            if (reinterpret_cast<xcb_selection_notify_event_t *>(event)->property != XCB_NONE) {
                xcb_get_property_reply_t *reply = xcb_get_property_reply(
                    c, xcb_get_property(c, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20), nullptr);
                if (reply)
                    pasted = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                                        xcb_get_property_value_length(reply));
                std::free(reply);
            }
        }
        std::free(event);
    }
    xcb_disconnect(c);
    return pasted;
}

} // namespace

// A paste that comes before the bytes are done gets them once they are, and
// the UI thread keeps running meanwhile. One that is held when the clipboard
// takes something else gets its answer (no PNG) at once.
TEST(ClipboardImageX11, APastedPngIsHeldUntilItsBytesAreDoneAndNeverForLonger)
{
    QImage image(96, 64, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 220));
    // Atoms are the server's: these serve the other client too.
    const std::vector<xcb_atom_t> atoms = X11Connection::atoms({"CLIPBOARD", "image/png", "PASTED"});
    const QByteArray png = PngEncoder::encode(image, 1.0, PngEncoder::Effort::fast,
                                              PngEncoder::Threads::callingThreadOnly);
    ASSERT_FALSE(png.isEmpty());
    {
        QPromise<QByteArray> bytes;
        bytes.start();
        auto *clip = new ClipboardImage(image);
        clip->setPng(bytes.future());
        QGuiApplication::clipboard()->setMimeData(clip);

        QElapsedTimer clock;
        clock.start();
        std::atomic<qint64> doneAtMs{-1};
        std::thread finisher([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            doneAtMs = clock.elapsed();
            bytes.addResult(png);
            bytes.finish();
        });
        QList<qint64> ticks;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { ticks << clock.elapsed(); });
        tick.start(5);
        qint64 pastedAtMs = -1;
        QFuture<std::optional<QByteArray>> pasted = QtConcurrent::run([&] {
            auto result = pastePng(atoms);
            pastedAtMs = clock.elapsed();
            return result;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return pasted.isFinished(); }, 30000));
        finisher.join();
        tick.stop();
        ASSERT_TRUE(pasted.isFinished());
        const std::optional<QByteArray> got = pasted.result();
        ASSERT_TRUE(got.has_value()) << "the paste was refused or not answered";
        EXPECT_EQ(*got, png) << "the paste did not get the bytes made for it";
        EXPECT_GE(pastedAtMs, doneAtMs.load()) << "answered before the bytes were done";
        const qsizetype whileWaiting = std::count_if(ticks.cbegin(), ticks.cend(), [&](qint64 t) { return t < doneAtMs; });
        EXPECT_GE(whileWaiting, 30) << "the UI thread waited for the bytes";
    }
    {
        QPromise<QByteArray> bytes;
        bytes.start();
        auto *clip = new ClipboardImage(image);
        clip->setPng(bytes.future());
        QGuiApplication::clipboard()->setMimeData(clip);
        QFuture<std::optional<QByteArray>> pasted = QtConcurrent::run(pastePng, atoms);
        QTest::qWait(300);
        EXPECT_FALSE(pasted.isFinished()) << "answered before the bytes were done";
        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return pasted.isFinished(); }, 30000)) << "the held paste was not answered";
        pasted.waitForFinished();
        EXPECT_TRUE(pasted.result().value_or(QByteArray()).isEmpty()) << "text pasted as PNG";
        bytes.finish();
    }
}
