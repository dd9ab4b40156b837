#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// Shared set-up for the fuzz targets: a private home (HOME and the XDG
// folders in a temporary folder, so nothing touches the real one), a
// QCoreApplication, and log lines kept off the terminal.
void fuzzInit();

// The private home folder fuzzInit made.
QString fuzzHome();

// Writes bytes to a file under the private home (replacing it) and returns its path.
QString fuzzWriteFile(const QString &relativePath, const QByteArray &bytes);

inline QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}
