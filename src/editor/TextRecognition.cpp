#include "editor/TextRecognition.h"

#include "platform/Localized.h"
#include "platform/TextRecognizer.h"

#include <QtConcurrent>

QFuture<TextRecognitionResult> recognizeText(const ImageHandle &image)
{
    const QString unreadable = localized("could not read image");
    if (image.isNull()) {
        TextRecognitionResult failed;
        failed.error = ErrorReport(VornaError::exportFailed(unreadable));
        return QtFuture::makeReadyFuture(failed);
    }
    // Only the image crosses into the worker (a file-backed one is decoded
    // there, off the caller's thread), and only the text or the error
    // comes back.
    return QtConcurrent::run([image, unreadable] {
        TextRecognitionResult out;
        const QImage pixels = image.image();
        if (pixels.isNull()) {
            out.error = ErrorReport(VornaError::exportFailed(unreadable));
            return out;
        }
        const TextRecognizer::Result r = TextRecognizer::recognize(pixels);
        if (!r.ok)
            out.error = ErrorReport(r.error);
        else
            out.text = r.lines.join(QLatin1Char('\n'));
        return out;
    });
}
