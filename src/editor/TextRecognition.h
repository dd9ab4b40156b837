#pragma once

#include "model/ImageHandle.h"
#include "model/VornaError.h"

#include <QFuture>
#include <QString>
#include <optional>

// What reading the text of an image gave: the text (lines joined by one
// line feed, no line feed at the end, empty when nothing was read) or the
// error to show.
struct TextRecognitionResult
{
    QString text;
    std::optional<ErrorReport> error;
    bool succeeded() const { return !error.has_value(); }
};

// Reads the text in the image. The pixels are taken on the calling thread;
// the recognition itself runs on a worker thread with an engine of its own,
// and the future carries its result. An image without pixels gives at once
// the error exportFailed("could not read image").
QFuture<TextRecognitionResult> recognizeText(const ImageHandle &image);
