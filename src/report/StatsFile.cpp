#include "report/StatsFile.h"

#include <QJsonDocument>

Status StatsFile::Open(const std::string &path)
{
    m_file.setFileName(QString::fromStdString(path));
    m_outcome = {};
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Fail();
    return m_outcome;
}

void StatsFile::Write(const QJsonObject &record)
{
    if (!m_file.isOpen() || !m_outcome)
        return;
    QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    line.append('\n');
    if (m_file.write(line) != line.size() || !m_file.flush())
        Fail();
}

void StatsFile::Fail()
{
    m_outcome = Status::Failure("--stats-file: cannot write '" + m_file.fileName().toStdString() +
                                "': " + m_file.errorString().toStdString());
    m_file.close();
}
