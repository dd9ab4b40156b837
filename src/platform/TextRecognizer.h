#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// Reads the text in a picture with the Tesseract OCR engine and its English
// model (the "eng" language data installed with the system's Tesseract).
// Each call makes, uses and ends its own engine, so calls on different
// threads share nothing. Blocking: run it on a worker thread.
class TextRecognizer
{
public:
    TextRecognizer() = delete;

    struct Result
    {
        bool ok = false;
        QStringList lines;  // the recognized lines, top to bottom, none empty
        QString error;      // why recognition failed, when !ok
    };

    // Recognizes the lines of text in image, in the engine's reading order,
    // in its most accurate mode with its dictionary. A picture without text
    // gives no lines; a null image or an engine that cannot start gives an
    // error.
    static Result recognize(const QImage &image);
};
