#include "platform/TextRecognizer.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <cmath>
#include <dlfcn.h>
#include <memory>

namespace {

// Tesseract runs parts of its recognizer as OpenMP parallel loops. On a busy
// desktop (or beside other recognitions) those teams outnumber the free
// processors and their waiting threads spin, which can slow a page down a
// hundredfold. The OpenMP runtime that Tesseract brings is asked, for the
// calling thread, to size its teams by the processors that are free now.
void letOpenMpFollowTheLoad()
{
    using SetInt = void (*)(int);
    static const SetInt setDynamic = reinterpret_cast<SetInt>(dlsym(RTLD_DEFAULT, "omp_set_dynamic"));
    if (setDynamic)
        setDynamic(1);
}

// The image as a viewer shows it, laid on white. Dropping the alpha alone
// would turn transparent pixels black, and black text on them unreadable.
QImage onWhite(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return image;
    QImage flat = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < flat.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(flat.scanLine(y));
        for (int x = 0; x < flat.width(); ++x) {
            const QRgb c = row[x];
            const int under = 255 - qAlpha(c); // white showing through
            row[x] = qRgb(qRed(c) + under, qGreen(c) + under, qBlue(c) + under);
        }
    }
    return flat;
}

// The engine reads small screen text far better once its letters are a
// dozen pixels high or more: text of one pixel per point is magnified.
QImage preparedForEngine(const QImage &image, int *ppi)
{
    double ratio = image.devicePixelRatio();
    if (!std::isfinite(ratio) || ratio <= 0)
        ratio = 1;
    QImage gray = onWhite(image).convertToFormat(QImage::Format_Grayscale8);
    double factor = 1;
    if (ratio < 1.5 && qint64(gray.width()) * gray.height() <= 16'000'000)
        factor = 2;
    if (factor != 1)
        gray = gray.scaled(int(gray.width() * factor), int(gray.height() * factor), Qt::IgnoreAspectRatio,
                           Qt::SmoothTransformation);
    // A screen point is 1/72 inch on the reference display.
    *ppi = int(std::lround(72 * ratio * factor * 1.4));
    return gray;
}

} // namespace

TextRecognizer::Result TextRecognizer::recognize(const QImage &image)
{
    Result result;
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        result.error = QStringLiteral("the image is empty");
        return result;
    }

    letOpenMpFollowTheLoad();
    auto engine = std::make_unique<tesseract::TessBaseAPI>();
    // Keep the engine's diagnostics off the terminal.
    engine->SetVariable("debug_file", "/dev/null");
    if (engine->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
        result.error = QStringLiteral("the English text recognition data of Tesseract is not installed");
        return result;
    }
    engine->SetPageSegMode(tesseract::PSM_AUTO);

    int ppi = 0;
    const QImage gray = preparedForEngine(image, &ppi);
    engine->SetImage(gray.constBits(), gray.width(), gray.height(), 1, int(gray.bytesPerLine()));
    engine->SetSourceResolution(ppi);
    if (engine->Recognize(nullptr) != 0) {
        result.error = QStringLiteral("text recognition failed");
        engine->End();
        return result;
    }

    std::unique_ptr<tesseract::ResultIterator> it(engine->GetIterator());
    if (it) {
        do {
            std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
            if (!text)
                continue;
            const QString line = QString::fromUtf8(text.get()).trimmed();
            if (!line.isEmpty())
                result.lines.append(line);
        } while (it->Next(tesseract::RIL_TEXTLINE));
    }
    it.reset();
    engine->End();
    result.ok = true;
    return result;
}
