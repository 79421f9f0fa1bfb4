#pragma once

#include "cli/common/FlagTable.h"
#include "cli/send/CommandLine.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What quillon-send's flag handlers write while a command line is read, and
// the checks of the whole line once every flag was taken.
struct SendParser {
    ParseResult result;
    Options &o = result.options;
    bool messageGiven = false;
    bool sourceFileGiven = false;
    bool facilityOrLevelGiven = false;
    bool countOrDurationGiven = false;
    std::optional<bool> crlfFlag;
    std::string paceFlag;
    std::optional<Framing> framingFlag;
    std::vector<LoadShape::Step> steps;
    bool rfcHeaderGiven = false;
    // --tag's name, written with --procid's id once every flag is read.
    std::string tagName;
    bool sdGiven = false;
    // The first --target and --port replace the saved ones; later ones add.
    bool targetGiven = false;
    bool portGiven = false;
    bool relpWindowGiven = false;
    // --template's text, --template-file's path or --pack's name (the flag
    // in o.templateFlag), compiled once every flag is read.
    std::string templateValue;
    bool proxySourceGiven = false;
    // Flags of the groups that only apply to some runs, in the order given.
    std::vector<std::string_view> rfc5424FlagsGiven;
    std::vector<std::string_view> tlsFlagsGiven;
    // --speed, --loop, --rewrite-time: they shape a replay.
    std::vector<std::string_view> replayFlagsGiven;
    // The flags that name a host and port, which a Unix socket has not.
    std::vector<std::string_view> networkFlagsGiven;

    static Status Fail(std::string text) { return Status::Failure(std::move(text)); }

    static Status Bad(std::string_view flag, std::string_view value, std::string_view wanted);

    static Status Noted(std::vector<std::string_view> &given, std::string_view flag, Status taken);

    // A header field's value, or the check's words after the flag's name.
    Status HeaderField(std::string_view flag, std::string_view value, std::string (*check)(std::string_view),
                       std::string &field);

    // The first --sd replaces the saved elements; "-" leaves none.
    Status SdElement(std::string_view value);

    Status SetPace(std::string_view flag, Pace pace);

    // --replay is a way of sending: the messages and their times are the file's.
    Status CheckReplay();
    // One of --template, --template-file and --pack.
    Status SetTemplates(std::string_view flag, std::string_view value);
    // The templates compiled, after the checks that they are the only
    // message text.
    Status CompileTemplates();

    // A TLS file given by a flag replaces the saved one.
    Status TlsFile(std::string_view flag, std::string_view value, TlsSetupError::File file, std::string &field);

    void NoteNetworkFlag(std::string_view flag);

    // A handler for a flag that names a host or port.
    std::function<Status(std::string_view)> Network(std::string_view flag,
                                                    std::function<Status(std::string_view)> handler);

    // A Unix socket is named by its path alone.
    Status CheckUnixSocket();

    // The same target or port twice would send twice as much there.
    Status NamedTwice() const;

    // Flags the run ignores: said on standard error, as the run goes ahead.
    void Warn();

    Status Finish();
};

// quillon-send's flag table, its handlers writing to parser.
FlagTable SendFlags(const std::shared_ptr<SendParser> &parser);
// Its groups for what each message holds.
FlagGroup PriorityFlagGroup(const std::shared_ptr<SendParser> &parser);
FlagGroup MessageFlagGroup(const std::shared_ptr<SendParser> &parser);
FlagGroup MessageFormatFlagGroup(const std::shared_ptr<SendParser> &parser);
// Its groups for messages like production's.
FlagGroup TemplateFlagGroup(const std::shared_ptr<SendParser> &parser);
FlagGroup ReplayFlagGroup(const std::shared_ptr<SendParser> &parser);
FlagGroup ProxyFlagGroup(const std::shared_ptr<SendParser> &parser);
