#pragma once

#include <QFile>
#include <QJsonObject>

#include <string>

// The file of --stats-file: one JSON object on a line for each second,
// handed to the system as it is written so the file can be followed live.
class StatsFile {
public:
    // Creates or empties the file; false with the reason in Error().
    [[nodiscard]] bool Open(const std::string &path);
    bool IsOpen() const { return m_file.isOpen(); }
    // Nothing once a write failed.
    void Write(const QJsonObject &record);
    bool Failed() const { return !m_error.empty(); }
    // "--stats-file: cannot write 'FILE': reason"
    const std::string &Error() const { return m_error; }

private:
    void Fail();

    QFile m_file;
    std::string m_error;
};
