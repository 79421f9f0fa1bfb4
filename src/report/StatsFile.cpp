#include "report/StatsFile.h"

#include <QJsonDocument>

bool StatsFile::Open(const std::string &path)
{
    m_file.setFileName(QString::fromStdString(path));
    m_error.clear();
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Fail();
        return false;
    }
    return true;
}

void StatsFile::Write(const QJsonObject &record)
{
    if (!m_file.isOpen() || Failed())
        return;
    QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    line.append('\n');
    if (m_file.write(line) != line.size() || !m_file.flush())
        Fail();
}

void StatsFile::Fail()
{
    m_error =
        "--stats-file: cannot write '" + m_file.fileName().toStdString() + "': " + m_file.errorString().toStdString();
    m_file.close();
}
