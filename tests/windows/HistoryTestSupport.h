#pragma once

// Shared set-up of the main-window tests: a fresh home, preferences and
// history store per test, and captures entered the way the capture pipeline
// enters them (history service first, then AppState).

#include "model/AppState.h"
#include "output/HistoryService.h"
#include "platform/NotificationCenter.h"
#include "platform/OpenPanel.h"
#include "platform/UserDefaults.h"
#include "support/TestHome.h"
#include "windows/ThumbnailCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <gtest/gtest.h>
#include <memory>

class HistoryTestBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        HistoryService::resetShared();
        ThumbnailCache::shared().clear();
        TestHome::reset();
        UserDefaults::resetStandard();
        appState = std::make_unique<AppState>();
    }
    void TearDown() override
    {
        appState.reset();
        ThumbnailCache::shared().clear();
        HistoryService::resetShared();
        UserDefaults::resetStandard();
    }

    // A picture with a coloured band, at two pixels per point.
    static QImage picture(QColor color, QSize size = QSize(320, 200))
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(QColor(235, 235, 240));
        QPainter p(&image);
        p.fillRect(QRect(0, size.height() / 3, size.width(), size.height() / 3), color);
        p.end();
        image.setDevicePixelRatio(2.0);
        return image;
    }

    // Enters a capture as newest entry (a picture of the given pixel size);
    // its history PNG is written unless writePng is false.
    HistoryItem addCapture(QColor color, const QDateTime &date, CaptureMode mode = CaptureMode::region,
                           std::optional<QString> filePath = std::nullopt, bool writePng = true,
                           QSize size = QSize(320, 200))
    {
        HistoryItem item;
        item.id = QUuid::createUuid();
        item.image = ImageHandle(picture(color, size));
        item.date = date;
        item.mode = mode;
        item.filePath = filePath;
        HistoryService &history = HistoryService::shared();
        history.items().prepend(item);
        if (writePng)
            history.saveImage(item);
        history.persist();
        history.waitForPendingWrites();
        appState->setHistory(history.items());
        return item;
    }

    // Relaunches the history store, so that entries come from their PNG
    // files without pixels in memory, as after a start of the program.
    void reloadHistoryFromDisk()
    {
        HistoryService::resetShared();
        ThumbnailCache::shared().clear();
        appState->setHistory(HistoryService::shared().items());
    }

    // Lets the shown cards ask for their pictures and get them.
    static void settleThumbnails()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
            ThumbnailCache::shared().waitForLoads();
        }
    }

    static QString pngOf(const QUuid &id) { return HistoryService::shared().imagePath(id); }

    std::unique_ptr<AppState> appState;
};

// Records every post of one notification name.
struct PostRecorder
{
    explicit PostRecorder(const QString &name)
    {
        QObject::connect(&NotificationCenter::instance(), &NotificationCenter::posted, &context,
                         [this, name](const QString &posted, const QVariantMap &userInfo) {
                             if (posted == name)
                                 posts.append(userInfo);
                         });
    }
    QObject context;
    QList<QVariantMap> posts;
};

// A folder panel that answers with a chosen folder, at once or when told.
class ScriptedFolderPanel : public OpenPanel
{
public:
    ScriptedFolderPanel() { OpenPanel::setCurrent(this); }
    ~ScriptedFolderPanel() override { OpenPanel::setCurrent(nullptr); }
    void begin(const Request &request, Completion completion) override
    {
        requests.append(request);
        pending = std::move(completion);
        if (answerAtOnce)
            finish();
    }
    void finish()
    {
        if (auto done = std::exchange(pending, nullptr))
            done(answer);
    }
    std::optional<QString> answer;
    bool answerAtOnce = true;
    QList<Request> requests;
    Completion pending;
};
