#pragma once

#include <QString>

// Writes one diagnostic line to standard error and the system log.
// The text is written as given; it is never treated as a format.
void vlog(const QString &line);

// Keeps lines off standard error and the system log (captures still see
// them). The fuzz targets run millions of inputs and set this.
void setLogQuiet(bool quiet);

// Tests can capture the lines instead of (as well as) writing them.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    QStringList lines() const;
    bool contains(const QString &fragment) const;
};
