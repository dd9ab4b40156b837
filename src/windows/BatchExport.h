#pragma once

#include "model/HistoryItem.h"
#include "model/ImageFormat.h"

#include <QFuture>
#include <QList>
#include <QString>
#include <QStringList>

class AppState;

// Writes several history captures at once into a folder the user picks,
// each encoded in the default format and named like a saved screenshot
// ("Vorna_" + its capture date + extension). A name already taken in the
// folder, by an earlier file or by another capture of the same second, gets
// a numbered suffix: nothing is ever replaced. Reading, encoding and writing
// run in the background; one alert reports how many were written.
class BatchExport
{
public:
    BatchExport() = delete;

    struct Outcome
    {
        int total = 0;
        int failed = 0;
        QStringList written; // the paths written, in list order
        qint64 elapsedMs = 0;
    };

    // Starts an export of the items (history order): takes the format and
    // quality now, then asks for the folder ("Export Here"). Returns false,
    // showing nothing, when there is nothing to export. Main thread.
    static bool start(AppState &appState, const QList<HistoryItem> &items);

    // The export itself into folder, in the background; the future's
    // outcome is ready when every capture has been written or has failed.
    static QFuture<Outcome> run(const QList<HistoryItem> &items, const QString &folder, ImageFormat format,
                                double quality);

    // The alert's message for an outcome.
    static QString message(const Outcome &outcome);
};
