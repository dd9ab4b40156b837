#pragma once

#include "model/ImageFormat.h"
#include "model/VornaError.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>
#include <functional>

// Turns a captured image into the bytes of a saved screenshot and puts them
// where the user wants them. Never instantiated; every operation is called
// on the type. The encoders and the file writing keep no state and touch
// nothing shared, so they may run on any thread (take the preferences on
// the main thread and pass their values in); the save panel is main-thread
// only.
//
// Failures of the encoders are thrown as VornaError (exportFailed).
class ImageExporter
{
public:
    ImageExporter() = delete;

    // One encoding attempt of the size-limited encoder. Throws VornaError.
    using Encoder = std::function<QByteArray(const QImage &image, ImageFormat format, double quality)>;
    // Receives what went wrong in the save panel's encoding or writing.
    using ErrorHandler = std::function<void(const ErrorReport &error)>;

    // Encodes the image's pixels in the format. quality (0...1, clamped)
    // is used by jpeg, heic and webp. Throws VornaError::exportFailed.
    static QByteArray encode(const QImage &image, ImageFormat format, double quality);

    // The byte limit of a "maxFileSizeKB" value, for encodeWithinLimit:
    // 0 (no limit) for 0 or less and for values whose byte count does not
    // fit a 64-bit integer.
    static qint64 byteLimit(qint64 maxFileSizeKB);

    // Encodes, and while the bytes exceed maxBytes lowers the quality (jpeg,
    // heic, webp) in steps of 0.1 down to 0.15, then the scale (0.9 down to
    // 0.3 of the input's size). maxBytes below 1 means no limit. Returns the
    // last attempt's bytes even when they still do not fit. Throws what
    // encode throws.
    static QByteArray encodeWithinLimit(const QImage &image, ImageFormat format, qint64 maxBytes, double quality);
    // The same with another encoding step (tests record the attempts).
    static QByteArray encodeWithinLimit(const QImage &image, ImageFormat format, qint64 maxBytes, double quality,
                                        const Encoder &encoder);

    // Shows a save panel with the dated name for the format and returns at
    // once. It opens in folder, or where the last Save As of this run was
    // made. When the user chooses a path, the image is encoded (no size
    // limit) and written there in the background; a failure goes to
    // errorHandler on the main thread (dropped without one). Cancelling
    // does nothing. Main thread only.
    static void presentSavePanel(const QImage &image, ImageFormat format, double quality, const QString &folder,
                                 ErrorHandler errorHandler = {});

    // The date part of saved file names, "yyyy-MM-dd_HH-mm-ss" in the
    // date's own time zone (local time for the current date). One
    // formatter, shared by every saved screenshot.
    static QString fileNameDateString(const QDateTime &date);
    // "Vorna_" + the date part + "." + the format's extension.
    static QString fileName(ImageFormat format, const QDateTime &date = QDateTime::currentDateTime());

    // Writes the bytes as a new file in folder (a leading "~" is expanded;
    // missing folders are created) under fileName, or, when a file of that
    // name exists, under the name with "_2", "_3", ... before the
    // extension: an existing file is never replaced. The file appears
    // complete or not at all. Returns the path written; on failure an empty
    // text and the system's description in errorText. Any thread.
    static QString writeNewFile(const QByteArray &bytes, const QString &folder, const QString &fileName,
                                QString *errorText);

    // The input scaled by factor (of its pixel size) with smooth
    // interpolation, keeping its device pixel ratio.
    static QImage scaledImage(const QImage &image, double factor);
};
