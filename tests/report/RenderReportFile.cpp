// Writes the report of a probe result file, for the browser test:
//   render_probe_report RESULT.json REPORT.html
#include "report/ProbeReport.h"

#include <QFile>
#include <QJsonDocument>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: render_probe_report RESULT.json REPORT.html\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "render_probe_report: cannot open %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    const QJsonDocument result = QJsonDocument::fromJson(in.readAll());
    const std::string page = RenderProbeReport(result.object());
    return out.write(page.data(), static_cast<qint64>(page.size())) == static_cast<qint64>(page.size()) ? 0 : 1;
}
