#include "cli/probe/ProbeReport.h"

#include <QJsonDocument>

std::string RenderProbeReport(const QJsonObject &result)
{
    // The data goes in as JSON inside a script element; "</" is the only
    // sequence that could end the element early.
    QByteArray json = QJsonDocument(result).toJson(QJsonDocument::Compact);
    json.replace("</", "<\\/");
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>quillon-probe</title></head>\n"
           "<body><h1>quillon-probe</h1>\n<script type=\"application/json\" id=\"probe-result\">" +
           json.toStdString() + "</script>\n</body></html>\n";
}
