#include "cli/send/SendCommand.h"

#include "cli/send/CommandLine.h"
#include "cli/send/RunSender.h"
#include "cli/send/SavedSettings.h"
#include "common/SettingsFile.h"
#include "common/Version.h"

#include <QFileInfo>

namespace {
constexpr int UsageErrorStatus = 2;
}

int RunSendCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, bool outIsTerminal,
                   bool errIsTerminal)
{
    ParseResult parsed = ParseCommandLine(args);
    if (parsed.action == ParseResult::Action::Run && parsed.fromSettings) {
        const QString file = SettingsFile::FileName();
        if (!QFileInfo::exists(file))
            err << "quillon-send: --from-settings: no saved settings in '" << file.toStdString()
                << "', so the defaults are used\n";
        std::vector<std::string> ignored;
        parsed = ParseCommandLine(args, SavedOptions(&ignored));
        for (const std::string &why : ignored)
            err << "quillon-send: --from-settings: the saved " << why << "; its default is used\n";
        // The counter belongs to the host the messages go to, which a flag may have changed.
        if (parsed.action == ParseResult::Action::Run)
            parsed.options.sequenceNumber = SavedSequenceNumber(parsed.options.target);
    }
    switch (parsed.action) {
    case ParseResult::Action::Help:
        out << UsageText();
        return 0;
    case ParseResult::Action::Version:
        out << "quillon-send " << QuillonVersion::VersionText << "\n";
        return 0;
    case ParseResult::Action::ListPacks:
        out << PackListText();
        return 0;
    case ParseResult::Action::UsageError:
        err << "quillon-send: " << parsed.error << "\n";
        return UsageErrorStatus;
    case ParseResult::Action::Run:
        break;
    }
    for (const std::string &warning : parsed.warnings)
        err << "quillon-send: " << warning << "\n";
    parsed.options.progress = (parsed.options.progress || errIsTerminal) && !parsed.options.quiet;
    const MetricsStart metrics = StartMetrics(parsed.metrics, "quillon-send", err, parsed.options.quiet);
    if (!metrics.status) {
        err << "quillon-send: " << metrics.status.Why() << "\n";
        return UsageErrorStatus;
    }
    const int status = RunSender(parsed.options, out, err, outIsTerminal, metrics.endpoint.get()).exitStatus;
    if (metrics.endpoint)
        metrics.endpoint->Linger(parsed.metrics.lingerSeconds);
    return status;
}
