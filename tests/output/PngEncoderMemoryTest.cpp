// What the PNG encoder keeps once its encodings are done. Threads that live
// on (Qt's global pool is kept for the whole run) must not each keep the
// working memory of the last image they encoded.

#include "output/PngEncoder.h"
#include "platform/HeapMemory.h"
#include "support/OwnMalloc.h"
#include "support/SyntheticScreenshot.h"

#include <QImage>
#include <QPainter>
#include <QSemaphore>
#include <QThreadPool>
#include <QtConcurrent>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kMiB = qint64(1) << 20;

qint64 residentBytes()
{
    long pages = 0, resident = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return -1;
    const int read = std::fscanf(statm, "%ld %ld", &pages, &resident);
    std::fclose(statm);
    return read == 2 ? qint64(resident) * ::sysconf(_SC_PAGESIZE) : -1;
}

QByteArray encodeForTheClipboard(const QImage &image)
{
    return PngEncoder::encode(image, 1.0, PngEncoder::Effort::fast, PngEncoder::Threads::callingThreadOnly);
}

class PngEncoderMemory : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!VORNA_OWN_MALLOC)
            GTEST_SKIP() << "the sanitizer's allocator holds freed memory";
        // As the program does at launch: large blocks go back when freed.
        HeapMemory::giveLargeBlocksBack();
        pool.setExpiryTimeout(-1);
    }
    void TearDown() override { pool.waitForDone(); }

    QThreadPool pool;
};

// A long scrolling capture copied to the clipboard, encoded on a thread that
// lives on: once the file is made, resident memory is back where it was.
TEST_F(PngEncoderMemory, ALongCaptureLeavesNothingOnTheThreadThatEncodedIt)
{
    QImage capture(3840, 9000, QImage::Format_RGB32);
    capture.fill(QColor(250, 250, 250));
    {
        QPainter p(&capture);
        for (int y = 0; y < capture.height(); y += 40)
            p.fillRect(QRect(100 + (y * 7) % 900, y, 2000, 14), QColor(30, 30, 30));
    }
    pool.setMaxThreadCount(1);
    const qint64 before = residentBytes();
    ASSERT_GT(before, 0);
    const qsizetype pngSize
        = QtConcurrent::run(&pool, [capture] { return encodeForTheClipboard(capture).size(); }).result();
    ASSERT_GT(pngSize, 0);
    const qint64 after = residentBytes();
    // Its filtered rows alone are a hundred megabytes.
    EXPECT_LT(after - before, 16 * kMiB) << "before " << before / kMiB << " MiB, after " << after / kMiB << " MiB";
}

// Screen-sized captures encoded at the same time on eight threads that live
// on: the memory kept for the next encodings is that of two at most, and
// the files, made again with what was kept, are right.
TEST_F(PngEncoderMemory, EncodingsOnManyThreadsKeepTheMemoryOfTwoAndTheirFilesAreRight)
{
    constexpr int kThreads = 8;
    const QImage screen = makeSyntheticScreenshot(2880, 1800);
    std::vector<QImage> captures;
    for (int i = 0; i < kThreads; ++i) {
        QImage capture = screen.copy();
        QPainter(&capture).fillRect(QRect(100 * i, 50 * i, 300, 200), QColor::fromHsv(40 * i, 200, 200));
        captures.push_back(capture);
    }
    const qint64 filteredRows = qint64(2880 * 3 + 1) * 1800;
    pool.setMaxThreadCount(kThreads);

    for (int round = 0; round < 2; ++round) {
        const qint64 before = residentBytes();
        ASSERT_GT(before, 0);
        // Every thread starts its encoding once all have been started, so
        // each encodes on a thread of its own, at the same time as the others.
        QSemaphore arrived;
        std::vector<QFuture<QByteArray>> files;
        for (int i = 0; i < kThreads; ++i)
            files.push_back(QtConcurrent::run(&pool, [&arrived, capture = captures[size_t(i)]] {
                arrived.release();
                arrived.acquire(kThreads);
                arrived.release(kThreads);
                return encodeForTheClipboard(capture);
            }));
        std::vector<QByteArray> pngs;
        qint64 pngBytes = 0;
        for (QFuture<QByteArray> &file : files) {
            pngs.push_back(file.result());
            pngBytes += pngs.back().size();
        }
        files.clear();
        const qint64 kept = residentBytes() - before - pngBytes;
        EXPECT_LT(kept, 2 * filteredRows + 2 * pngBytes / kThreads + 16 * kMiB)
            << "round " << round << ": " << kept / kMiB << " MiB kept";

        for (int i = 0; i < kThreads; ++i) {
            const QImage decoded = QImage::fromData(pngs[size_t(i)], "PNG");
            EXPECT_EQ(decoded.convertToFormat(QImage::Format_RGB32), captures[size_t(i)])
                << "round " << round << ", capture " << i;
        }
    }
}

} // namespace
