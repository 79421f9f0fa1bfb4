#pragma once

#include "common/Status.h"

#include <QFile>
#include <QJsonObject>

#include <string>

// The file of --stats-file: one JSON object on a line for each second,
// handed to the system as it is written so the file can be followed live.
class StatsFile {
public:
    // Creates or empties the file.
    Status Open(const std::string &path);
    bool IsOpen() const { return m_file.isOpen(); }
    // Nothing once a write failed.
    void Write(const QJsonObject &record);
    // Failed: "--stats-file: cannot write 'FILE': reason"
    const Status &Outcome() const { return m_outcome; }

private:
    void Fail();

    QFile m_file;
    Status m_outcome;
};
