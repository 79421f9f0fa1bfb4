#include "cli/recv/RecvProcess.h"
#include "common/Clock.h"
#include "engine/Framing.h"
#include "engine/Stamp.h"
#include "engine/StampKey.h"
#include "proof/DeliveryLedger.h"
#include "report/RecvReport.h"
#include "support/LoopbackReceivers.h"
#include "support/TestCertificates.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

using namespace std::string_literals;

namespace {
const QString RecvPath = QStringLiteral(QUILLON_RECV_PATH);

std::string Rfc5424(const std::string &run, std::uint64_t stream, std::uint64_t seq)
{
    std::string message = "<13>1 2024-01-01T00:00:00Z host app - - ";
    AppendStampElement(message, {run, stream, seq, SystemClock().EpochMicroseconds()});
    return message + " hi";
}

std::string Rfc3164(const std::string &run, std::uint64_t stream, std::uint64_t seq)
{
    std::string message = "<13>Jan  1 00:00:00 host tag: text";
    AppendStampToken(message, {run, stream, seq, SystemClock().EpochMicroseconds()});
    return message;
}

// The sender's framing, by its name.
std::string Framed(const std::string &framing, const std::string &message)
{
    std::string out;
    AppendFramed(out, ParseFraming(framing).value(), message);
    return out;
}

// Two streams of 40, over UDP and over TCP in every framing; over TCP the
// first connection ends half way and a second one carries the streams on.
// "records": multi-line records ended by NUL, found by --framing auto.
// Text figures read as the sender's: thousands grouped, latency in
// milliseconds, the bytes named for what they count.
TEST(RecvReport, TextGroupsNumbersAndGivesLatencyInMilliseconds)
{
    RecvSummary summary;
    summary.source = "tcp 127.0.0.1:514";
    summary.intake.bytes = 18031957;
    summary.acknowledged = 100000;
    summary.ledger.totals.received = 100000;
    summary.ledger.totals.latency = {100000, 1500, 24641536, 24641536};
    EXPECT_NE(RecvSummaryLine(summary).find("18,031,957 bytes (framing left out), 100,000 acknowledged; stamped: "
                                            "100,000 received, 0 lost, 0 duplicated, 0 out of order; latency p50 "
                                            "1.500 ms, p99 24,641.536 ms, max 24,641.536 ms"),
              std::string::npos)
        << RecvSummaryLine(summary);
    EXPECT_EQ(RecvProgressLine(12000, 3, 1000), "12,000 messages received, 3 lost so far, 1,000 MPS");
}

TEST(RecvProgram, EverythingSentArrivesOverUdpAndTcp)
{
    for (const std::string framing : {"udp", "auto", "octet-count", "lf", "crlf", "nul", "records"}) {
        const bool udp = framing == "udp", records = framing == "records";
        const std::string named = udp ? "undecided" : framing == "auto" ? "octet-count" : records ? "nul" : framing;
        const bool v6 = framing == "lf";
        Receiver receiver({"--listen", udp ? "udp" : "tcp", "--bind", v6 ? "::1" : "127.0.0.1", "--port", "0",
                           "--framing", udp || records ? "auto" : framing, "--expect", "80", "--idle", "10", "--json"});
        if (v6) {
            EXPECT_EQ(receiver.FirstLine().rfind("listening on tcp [::1]:", 0), 0u);
        }
        std::vector<std::string> messages;
        for (std::uint64_t seq = 1; seq <= 40; ++seq) {
            messages.push_back(Rfc5424("r5424", StreamId(0, 1), seq));
            messages.push_back(Rfc3164("r3164", StreamId(7, 0), seq));
        }
        for (std::string &message : records ? messages : std::vector<std::string>{})
            message.insert(std::min(message.find(" quillon="), message.size()), "\nline two");
        if (udp) {
            SendDatagrams(receiver.Port(), messages);
        } else {
            std::string first;
            std::string second = framing == "octet-count" ? "99999999999 x\n" : "";
            for (std::size_t i = 0; i < messages.size(); ++i)
                (i < 40 ? first : second) += Framed(named, messages[i]);
            for (const std::string &bytes : {first, second}) {
                const int fd = Connect(receiver.Port(), v6 ? AF_INET6 : AF_INET);
                Write(fd, bytes);
                ::close(fd);
            }
        }
        const Outcome outcome = receiver.Finish();
        EXPECT_EQ(outcome.exitCode, 0) << framing << outcome.err << outcome.out;
        const QJsonObject &json = outcome.json;
        EXPECT_EQ(Figure(json, "received"), 80u) << framing;
        EXPECT_EQ(Figure(json, "lost") + Figure(json, "duplicates") + Figure(json, "reordered"), 0u) << framing;
        EXPECT_EQ(Figure(json, "malformed_frames"), framing == "octet-count" ? 1u : 0u) << framing;
        EXPECT_EQ(Figure(json, "connections"), udp ? 0u : 2u) << framing;
        EXPECT_EQ(Figure(json, "messages"), 80u) << framing;
        EXPECT_EQ(Figure(json["connection_framing"].toObject(), named.c_str()), udp ? 0u : 2u) << framing;
        EXPECT_EQ(json.value("stopped_by").toString(), "expect");
        EXPECT_EQ(Figure(json["latency_us"].toObject(), "samples"), 80u) << framing;
        const QJsonArray streams = json["streams"].toArray();
        ASSERT_EQ(streams.size(), 2) << framing;
        EXPECT_EQ(streams[1].toObject()["run"].toString(), "r5424");
        EXPECT_EQ(Figure(streams[0].toObject(), "shard"), 7u);
        EXPECT_EQ(Figure(streams[0].toObject(), "received"), 40u);
        EXPECT_EQ(json["shards"].toArray().size(), 2);
    }
}

// Of 20, number 5 and the last are lost, 8 comes twice and 13 before 12.
TEST(RecvProgram, ReportsExactlyTheLossDuplicatesAndReordering)
{
    const std::tuple<std::vector<std::string>, int> cases[] = {
        {{"--allow-loss", "2", "--allow-duplicates"}, 0},
        {{"--allow-loss", "1", "--allow-duplicates"}, 1},
    };
    for (const auto &[extra, exitCode] : cases) {
        std::vector<std::string> args = {"--bind", "127.0.0.1", "--port", "0",     "--expect",
                                         "20",     "--idle",    "1",      "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        Receiver receiver(args);
        std::vector<std::string> forwarded = {""}; // an empty datagram is no message
        for (std::uint64_t seq = 1; seq < 20; ++seq) {
            const std::uint64_t sent = seq == 12 ? 13 : seq == 13 ? 12 : seq;
            if (sent != 5)
                forwarded.push_back(sent % 2 ? Rfc3164("relay", 3, sent) : Rfc5424("relay", 3, sent));
            if (sent == 8)
                forwarded.push_back(forwarded.back());
        }
        SendDatagrams(receiver.Port(), forwarded);
        const Outcome outcome = receiver.Finish();
        EXPECT_EQ(outcome.exitCode, exitCode) << outcome.out;
        const QJsonObject &json = outcome.json;
        EXPECT_EQ(Figure(json, "received"), 18u);
        EXPECT_EQ(Figure(json, "lost"), 2u);
        EXPECT_EQ(Figure(json, "tail_lost"), 1u);
        EXPECT_EQ(Figure(json, "duplicates"), 1u);
        EXPECT_EQ(Figure(json, "reordered"), 1u);
        EXPECT_EQ(Figure(json, "messages"), 19u);
        EXPECT_EQ(json.value("stopped_by").toString(), "idle");
        EXPECT_EQ(Figure(json, "empty_datagrams"), 1u);
        EXPECT_EQ(Figure(json["streams"].toArray()[0].toObject(), "lost"), 1u);
        EXPECT_EQ(json["streams"].toArray()[0].toObject()["gaps"], QJsonArray({QJsonArray{5, 5}}));
    }
}

// Forged stamps buy no memory and hide no loss. 10,000 with absurd numbers,
// each on a stream of its own, leave the receiver's peak memory within a
// few tens of MB of a run without them and count as suspect jumps;
// believed (--max-gap at its top), the lost total stops at its cap
// instead of wrapping round to a small number.
TEST(RecvProgram, ForgedStampsBuyNoMemoryNorHideLoss)
{
    struct Case {
        const char *name;
        int forged;
        std::vector<std::string> extra;
        std::string summary;
        std::uint64_t lostSoFar;
    };
    const Case cases[] = {
        {"clean", 0, {}, "stamped: 20 received, 10 lost, 0 duplicated, 0 out of order;", 10},
        {"forged", 10000, {}, "stamped: 20 received, 10 lost, 0 duplicated, 0 out of order, 10,000 suspect jumps;", 10},
        {"believed",
         2,
         {"--max-gap", "9223372036854775807"},
         "stamped: 22 received, 9,223,372,036,854,775,807 lost",
         CountCap},
    };
    QTemporaryDir folder;
    std::uint64_t cleanPeak = 0;
    for (const Case &c : cases) {
        const QString stats = folder.filePath(QString(c.name) + ".jsonl");
        std::vector<std::string> args = {"--listen", "tcp", "--bind",       "127.0.0.1",
                                         "--port",   "0",   "--stats-file", stats.toStdString()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        Receiver receiver(args, rlim_t{1} << 30);
        std::string bytes;
        for (std::uint64_t seq = 1; seq <= 30; ++seq)
            if (seq <= 10 || seq > 20)
                bytes += Framed("lf", Rfc3164("real", 0, seq));
        for (int i = 0; i < c.forged; ++i)
            bytes += Framed("lf", Rfc3164("forged", static_cast<std::uint64_t>(i) + 1, CountCap - 6 * i));
        const int fd = Connect(receiver.Port());
        Write(fd, bytes);
        const std::uint64_t messages = 20 + static_cast<std::uint64_t>(c.forged);
        const QJsonObject last =
            AwaitJsonLine(stats, [&](const QJsonObject &line) { return Figure(line, "total_received") == messages; });
        const std::uint64_t peak = receiver.PeakMemory();
        receiver.Signal(SIGTERM);
        const Outcome outcome = receiver.Finish();
        ::close(fd);
        EXPECT_EQ(outcome.exitCode, 1) << c.name;
        EXPECT_NE(outcome.out.find(c.summary), std::string::npos) << c.name << outcome.out;
        EXPECT_EQ(Figure(last, "lost_so_far"), c.lostSoFar) << c.name;
        if (c.forged == 0) {
            cleanPeak = peak;
        } else if (c.forged > 2) {
            EXPECT_LT(peak, cleanPeak + (32u << 20)) << c.name << " " << peak << " " << cleanPeak;
        }
    }
}

// A forger who writes eight stamps of a real stream far above --expect
// neither hides its last 500 lost nor, in the middle, turns the messages
// after them into late ones and the gap away: the run fails and names them.
TEST(RecvProgram, StampsAboveTheExpectedCountHideNoLoss)
{
    const auto file = [](std::uint64_t forgedAfter, std::uint64_t last, std::uint64_t gapFrom) {
        std::string text;
        for (std::uint64_t seq = 1; seq <= last; ++seq) {
            if (gapFrom == 0 || seq < gapFrom || seq >= gapFrom + 10)
                text += Rfc3164("r", 1, seq) + "\n";
            for (std::uint64_t i = 0; i < 8 && seq == forgedAfter; ++i)
                text += Rfc3164("r", 1, 20'005'001 + i) + "\n";
        }
        return QByteArray::fromStdString(text);
    };
    const std::tuple<const char *, QByteArray, std::string> cases[] = {
        {"at the tail", file(4500, 4500, 0),
         "stamped: 4,500 received, 500 lost, 0 duplicated, 0 out of order, 8 suspect jumps (500 of the lost"},
        {"in the middle", file(2000, 5000, 3001),
         "(shard 0): 4,990 received, 10 lost, 0 duplicated, 0 out of order, 8 suspect jumps; gaps 3001-3010"},
    };
    for (const auto &[name, input, summary] : cases) {
        const Outcome outcome = RunToEnd(RecvPath, {"--check-file", "-", "--expect", "5000"}, input);
        EXPECT_EQ(outcome.exitCode, 1) << name;
        EXPECT_NE(outcome.out.find(summary), std::string::npos) << name << outcome.out;
    }
}

// A file holding two runs: --run-id checks one, and without it the stamps
// beyond --expect are named.
TEST(RecvProgram, RunIdPicksOneRunOfAFile)
{
    std::string text;
    for (const char *run : {"a", "b"})
        for (std::uint64_t seq = 1; seq <= 3; ++seq)
            text += Rfc3164(run, 1, seq) + "\n";
    const QByteArray input = QByteArray::fromStdString(text);
    const std::tuple<std::vector<std::string>, std::string> cases[] = {
        {{"--run-id", "a"}, "3 received, 0 lost, 0 duplicated, 0 out of order, 3 stamps of other runs passed over"},
        {std::vector<std::string>{}, "3 stamped messages more than --expect (the file may hold several runs"},
    };
    for (const auto &[more, summary] : cases) {
        std::vector<std::string> args = {"--check-file", "-", "--expect", "3"};
        args.insert(args.end(), more.begin(), more.end());
        const Outcome outcome = RunToEnd(RecvPath, args, input);
        if (!more.empty()) {
            EXPECT_EQ(outcome.exitCode, 0) << outcome.out << outcome.err;
        }
        EXPECT_NE(outcome.out.find(summary), std::string::npos) << outcome.out;
    }
}

TEST(RecvProgram, UsageErrorsAndFilesChecked)
{
    QTemporaryDir dir;
    const auto write = [&](const char *name, const std::string &text) {
        std::ofstream(dir.filePath(name).toStdString(), std::ios::binary) << text;
        return dir.filePath(name).toStdString();
    };
    // Lines as a daemon writes them: its own prefix, CR LF, a CR escaped
    // as rsyslog does by default, a line with a broken stamp, one without,
    // and seq 3 of stream 1 missing.
    const std::string file =
        write("daemon.log", "2024-01-01T00:00:00+00:00 host tag: text quillon=f:1:1:1700000000000000\n"
                            "2024-01-01 host app [quillon@32473 run=\"f\" stream=\"1\" seq=\"2\" t=\"1\"] x\r\n"
                            "2024-01-01T00:00:00+00:00 host tag: text quillon=f:1:4:1700000000000000\n"
                            "2024-01-01T00:00:00+00:00 host tag: text quillon=f:1:5:1700000000000000#015\n"
                            "2024-01-01T00:00:00+00:00 host tag: text quillon=f:1:x:1\n"
                            "no stamp\n\n"
                            "2024-01-01T00:00:00+00:00 host tag: text quillon=f:2000001:1:1");
    const std::string broken = write("broken.log", "host tag: quillon=f:1:x:1\nhost tag: quillon=f:1\n");
    const std::string plain = write("plain.log", "<13>Jan  1 00:00:00 host tag: text\n");
    const std::string shortKey = write("short.key", "too short\r\n");
    TcpReceiver busy;
    const std::string busyPort = std::to_string(busy.Port());
    const TestCertificates &certs = MadeCertificates();
    const std::string tls[] = {"--listen", "tls", "--port", "0", "--cert"};
    const std::string unread = "quillon-recv: 2 messages arrived but no stamp could be read (2 malformed): the sender "
                               "must stamp them (quillon-send --stamp) and a daemon's template must keep the stamp";

    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{"--version"}, 0, "quillon-recv 2.2.0\n", ""},
        {{"--help"}, 0, "Usage: quillon-recv [options]", ""},
        {{"--port", "65536"}, 2, "", "quillon-recv: --port: '65536' is not a port number from 0 to 65535"},
        {{"--listen", "tls"}, 2, "", "quillon-recv: --listen tls needs --cert FILE"},
        {{"--cert", certs.serverCert}, 2, "", "quillon-recv: --cert needs --listen tls"},
        {{"--listen-proxy"}, 2, "", "quillon-recv: --listen-proxy reads the PROXY header of TCP and TLS connections"},
        {{"--listen", "relp", "--listen-proxy"}, 2, "", "quillon-recv: --listen-proxy reads the PROXY header"},
        {{"--listen", "tcp", "--handshake-timeout", "1"}, 2, "", "quillon-recv: --handshake-timeout needs --listen"},
        {{"--listen", "tls", "--cert", certs.serverCert, "--require-client-cert"},
         2,
         "",
         "quillon-recv: --require-client-cert needs --ca-file FILE"},
        {{tls[0], tls[1], tls[2], tls[3], tls[4], certs.serverCert, "--key", certs.clientKey},
         2,
         "",
         "quillon-recv: --key: the key in " + certs.clientKey + " does not match the certificate"},
        // A device or a huge file is refused after 1 MiB, never read whole.
        {{tls[0], tls[1], tls[4], "/dev/zero"}, 2, "", "quillon-recv: --cert: the certificate /dev/zero is larger"},
        {{tls[0], tls[1], tls[4], certs.serverCert, "--ca-file", "/dev/zero"}, 2, "", "quillon-recv: --ca-file: the"},
        {{"--stamp-key", "/dev/zero"}, 2, "", "quillon-recv: --stamp-key: '/dev/zero' is longer than 4096 bytes"},
        {{"--stamp-key", shortKey}, 2, "", "quillon-recv: --stamp-key: '" + shortKey + "' holds 9 bytes: a key needs"},
        {{"--framing", "cr"}, 2, "", "quillon-recv: --framing: 'cr' is not auto, octet-count, lf, crlf or nul"},
        {{"--expect", "-1"}, 2, "", "quillon-recv: --expect: '-1' is not a whole number"},
        // An empty run is no pass unless asked for.
        {{"--check-file", "/dev/null", "--quiet"}, 1, "", "quillon-recv: nothing arrived"},
        {{"--check-file", "/dev/null", "--expect", "0", "--quiet"}, 0, "", ""},
        {{"--raw"}, 2, "", "quillon-recv: --raw needs --output FILE"},
        {{"--run-id", "a"}, 2, "", "quillon-recv: --run-id picks one run among the stamps of a file"},
        // --merge's files may come before or after other flags.
        {{"--merge", "--json", "-"}, 2, "", "quillon-recv: --merge: no receiver report"},
        {{"-", "--json", "--merge"}, 2, "", "quillon-recv: --merge: no receiver report"},
        {{"--output", "-", "--json"}, 2, "", "quillon-recv: --output - cannot be combined with --json"},
        {{"--max-buffered", "70000", "--max-frame", "80000"}, 2, "", "quillon-recv: --max-buffered must be at least"},
        {{"--stats-file="}, 2, "", "quillon-recv: --stats-file needs a file name"},
        {{"--stats-file", "s", "--check-file", file}, 2, "", "quillon-recv: --stats-file records each second of"},
        {{"--check-file", file, "--port", "1"}, 2, "", "quillon-recv: --check-file reads a file: --port cannot"},
        {{"--check-file", "/nonexistent/x.log"}, 2, "", "quillon-recv: --check-file: cannot read '/nonexistent/x."},
        {{"--check-file", dir.path().toStdString()},
         2,
         "",
         "quillon-recv: --check-file: cannot read '" + dir.path().toStdString() + "': Is a directory"},
        {{"--bind", "no..host", "--port", "0"}, 2, "", "quillon-recv: --bind: 'no..host' is not an IPv4 or IPv6"},
        {{"--listen", "tcp", "--bind", "127.0.0.1", "--port", busyPort}, 2, "", "quillon-recv: cannot listen on tcp"},
        // A file has no clock: no rate.
        {{"--check-file", file},
         1,
         "7 messages in the file, 414 bytes (framing left out); stamped: 5 received, 1 lost",
         ""},
        {{"--check-file", file, "--allow-loss", "1", "--quiet"}, 0, "", ""},
        {{"--check-file", "-", "--expect", "6", "--allow-loss", "2"}, 0, "7 messages in the file", ""},
        // Messages whose stamps cannot be read prove nothing.
        {{"--check-file", broken, "--quiet"}, 1, "", unread},
        {{"--check-file", plain, "--expect", "1", "--quiet"}, 1, "", "quillon-recv: 1 message arrived but no stamp"},
        // Stamps that could not be checked prove nothing either.
        {{"--check-file", file, "--max-streams", "1", "--allow-loss", "1"},
         1,
         "7 messages in the file, 414 bytes (framing left out); stamped: 4 received, 1 lost, 0 duplicated, 0 out of "
         "order, 1 malformed "
         "stamps, 1 stamps not checked (their streams were beyond --max-streams",
         ""},
    };
    for (const auto &[args, exitCode, out, err] : cases) {
        const Outcome outcome =
            RunToEnd(RecvPath, args, QByteArray::fromStdString(FileText(QString::fromStdString(file))));
        EXPECT_EQ(outcome.exitCode, exitCode) << args.back() << outcome.err;
        EXPECT_EQ(outcome.out.rfind(out, 0), 0u) << outcome.out;
        EXPECT_EQ(outcome.err.rfind(err, 0), 0u) << outcome.err;
    }

    const Outcome checked = RunToEnd(RecvPath, {"--check-file", file, "--expect", "7", "--json"});
    EXPECT_EQ(Figure(checked.json, "received"), 5u);
    EXPECT_EQ(Figure(checked.json, "lost"), 2u); // 3 of stream 1, and 1 at a tail
    EXPECT_EQ(Figure(checked.json, "tail_lost"), 1u);
    EXPECT_EQ(Figure(checked.json, "malformed_stamps"), 1u);
    EXPECT_EQ(Figure(checked.json["latency_us"].toObject(), "samples"), 0u);
    EXPECT_TRUE(checked.json.value("average_mps").isNull());
    EXPECT_EQ(checked.json.value("stopped_by").toString(), "end of file");
    EXPECT_EQ(checked.json["shards"].toArray().size(), 2);
}

// With --stamp-key a stamp without the key's MAC is forged: one without a
// MAC, one with a wrong MAC and one keyed by another key neither fill the
// real gap nor jump the stream; counted apart, they end the run with 1.
TEST(RecvProgram, StampsWithoutTheKeysMacAreForgedAndLeftOut)
{
    QTemporaryDir dir;
    const std::string keyFile = dir.filePath("key").toStdString();
    std::ofstream(keyFile) << "the secret both ends share\n";
    const StampMac real(StampKey("the secret both ends share")), other(StampKey("a secret the forger guessed"));
    std::string lines;
    for (const auto &[seq, mac] : std::initializer_list<std::pair<std::uint64_t, const StampMac *>>{
             {1, &real}, {2, &real}, {3, nullptr}, {CountCap, &real}, {4, &real}, {5, &other}, {5, &real}}) {
        lines += "<13>Jan  1 00:00:00 host tag: text";
        AppendStampToken(lines, {"keyed", 1, seq, 7,
                                 mac ? std::optional(mac->Of("keyed", 1, seq, 7) ^ (seq == CountCap)) : std::nullopt});
        lines += "\n";
    }
    const Outcome outcome =
        RunToEnd(RecvPath, {"--check-file", "-", "--stamp-key", keyFile, "--json"}, QByteArray::fromStdString(lines));
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
    std::vector<std::uint64_t> figures;
    for (const char *name : {"forged", "stamped", "received", "lost", "suspect_jumps", "duplicates"})
        figures.push_back(Figure(outcome.json, name));
    EXPECT_EQ(figures, (std::vector<std::uint64_t>{3, 4, 4, 1, 0, 0}));
}

TEST(RecvProgram, OutputFileHoldsEveryMessageEscapedOrRaw)
{
    QTemporaryDir dir;
    const std::string messages[] = {"<13>plain", "<13>cr\rlf\nnul\0back\\slash"s, Rfc5424("o", 1, 1)};
    for (const bool raw : {false, true}) {
        const QString path = dir.filePath(raw ? "raw.txt" : "escaped.txt");
        std::vector<std::string> args = {"--listen", "tcp", "--bind",  "127.0.0.1", "--port",          "0",
                                         "--expect", "1",   "--quiet", "--output",  path.toStdString()};
        if (raw)
            args.push_back("--raw");
        Receiver receiver(args);
        const int fd = Connect(receiver.Port());
        std::string bytes;
        for (const std::string &message : messages)
            bytes += Framed("octet-count", message);
        Write(fd, bytes);
        ::close(fd);
        const Outcome outcome = receiver.Finish();
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        const std::string expected = raw ? messages[0] + "\n" + messages[1] + "\n" + messages[2] + "\n"
                                         : messages[0] + "\n<13>cr\\rlf\\nnul\\0back\\\\slash\n" + messages[2] + "\n";
        EXPECT_EQ(FileText(path), expected) << raw;
    }
}

// Clients cannot wear the receiver out: the one holding the most when the
// parts of messages held pass --max-buffered is dropped, and those quiet for
// --idle-timeout are closed, a part of a message they held counted as
// malformed.
TEST(RecvProgram, HostileClientsCannotExhaustTheReceiver)
{
    Receiver receiver({"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--idle-timeout", "0.5",
                       "--max-buffered", "65536", "--json"});
    const int steady = Connect(receiver.Port()), hog = Connect(receiver.Port()), slow = Connect(receiver.Port());
    for (std::uint64_t seq = 1; seq <= 5; ++seq)
        Write(steady, Framed("lf", Rfc5424("s", 0, seq)));
    Write(hog, "65000 <13>1 " + std::string(50000, 'h'));
    Write(slow, "65000 <13>1 " + std::string(20000, 's'));
    EXPECT_TRUE(ClosedByPeer(hog, 1));
    EXPECT_TRUE(ClosedByPeer(slow));
    EXPECT_TRUE(ClosedByPeer(steady));
    receiver.Signal(SIGTERM);
    const Outcome outcome = receiver.Finish();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    const QJsonObject &json = outcome.json;
    EXPECT_EQ(Figure(json, "received"), 5u);
    EXPECT_EQ(Figure(json, "connections"), 3u);
    EXPECT_EQ(Figure(json, "buffer_drops"), 1u);
    EXPECT_EQ(Figure(json, "idle_closed"), 2u);
    EXPECT_EQ(Figure(json, "malformed_frames"), 2u);
    for (const int fd : {steady, hog, slow})
        ::close(fd);
}

// A TLS sender on a plain port is told apart, its handshake never taken for
// messages; a run that got nothing fails.
TEST(RecvProgram, ATlsClientOnAPlainPortIsNamedNotCounted)
{
    Receiver receiver({"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--json"});
    const Outcome sent = RunToEnd(QStringLiteral(QUILLON_SEND_PATH),
                                  {"--port", std::to_string(receiver.Port()), "--transport", "tls", "--insecure"});
    EXPECT_EQ(sent.exitCode, 1) << sent.err;
    receiver.Signal(SIGTERM);
    const Outcome outcome = receiver.Finish();
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
    EXPECT_EQ(Figure(outcome.json, "tls_on_plain_port"), 1u);
    EXPECT_EQ(Figure(outcome.json, "frames"), 0u);
    EXPECT_EQ(outcome.json.value("error").toString().toStdString(), "nothing arrived (--expect 0 accepts that)");
}

// Idle connections beyond --max-connections each close the one idle longest,
// so they cannot lock out a sender that comes after them.
TEST(RecvProgram, IdleConnectionsCannotLockASenderOut)
{
    Receiver receiver({"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--max-connections", "4", "--expect",
                       "500", "--duration", "30", "--json"});
    std::vector<int> idle;
    for (int i = 0; i < 40; ++i)
        idle.push_back(Connect(receiver.Port()));
    EXPECT_TRUE(ClosedByPeer(idle[35]));
    const Outcome sent =
        RunToEnd(QStringLiteral(QUILLON_SEND_PATH), {"--target", "127.0.0.1", "--port", std::to_string(receiver.Port()),
                                                     "--transport", "tcp", "--count", "500", "--unlimited", "--stamp"});
    const Outcome outcome = receiver.Finish();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err << sent.err;
    EXPECT_EQ(Figure(outcome.json, "received"), 500u);
    EXPECT_EQ(Figure(outcome.json, "idle_evicted"), 37u);
    for (const int fd : idle)
        ::close(fd);
}

// An open files limit below --max-connections caps the connections kept
// open beneath it, so idle ones still make room for a sender, as at
// --max-connections, and the cap is told.
TEST(RecvProgram, AnOpenFilesLimitLocksNoSenderOut)
{
    Receiver receiver(
        {"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--expect", "500", "--duration", "120", "--json"}, 0,
        128);
    std::vector<int> idle;
    for (int i = 0; i < 160; ++i)
        idle.push_back(Connect(receiver.Port()));
    EXPECT_TRUE(ClosedByPeer(idle[0]));
    const Outcome sent =
        RunToEnd(QStringLiteral(QUILLON_SEND_PATH), {"--target", "127.0.0.1", "--port", std::to_string(receiver.Port()),
                                                     "--transport", "tcp", "--count", "500", "--unlimited", "--stamp"});
    const Outcome outcome = receiver.Finish();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err << sent.err;
    EXPECT_EQ(Figure(outcome.json, "received"), 500u);
    EXPECT_GT(Figure(outcome.json, "idle_evicted"), 0u);
    EXPECT_EQ(Figure(outcome.json, "refused_connections"), 0u);
    EXPECT_NE(outcome.err.find("quillon-recv: open files are limited to 128 (ulimit -n)"), std::string::npos)
        << outcome.err;
    for (const int fd : idle)
        ::close(fd);
}

// A stamp key file its group or others may read is told of, as a private
// key's would be; the run goes on.
TEST(RecvProgram, AStampKeyOthersMayReadIsWarnedOf)
{
    QTemporaryDir dir;
    const std::string key = dir.filePath("key").toStdString();
    std::ofstream(key) << "the secret both ends share\n";
    for (const auto &[mode, warned] :
         {std::pair{0644, true}, {0640, true}, {0604, true}, {0600, false}, {0400, false}}) {
        ::chmod(key.c_str(), static_cast<mode_t>(mode));
        const Outcome outcome =
            RunToEnd(RecvPath, {"--check-file", "/dev/null", "--expect", "0", "--quiet", "--stamp-key", key});
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.err.find("quillon-recv: --stamp-key: '" + key + "' is readable by others") == 0, warned)
            << mode << ": " << outcome.err;
    }
}

// Under a memory cap, connections holding parts of long frames are dropped
// once they hold a share of what the cap leaves (the default of
// --max-buffered follows it), so the run goes on and takes a sender after
// them.
TEST(RecvProgram, PartialFramesUnderAMemoryCapCostTheirConnectionsNotTheRun)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's address space cannot be capped";
#endif
    Receiver receiver({"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--max-frame", "4194304", "--expect",
                       "5", "--duration", "30", "--json"},
                      200'000'000);
    const std::string part = "4000000 <13>1 " + std::string(3'000'000, 'h');
    std::vector<int> hogs;
    for (int i = 0; i < 60; ++i) {
        hogs.push_back(Connect(receiver.Port()));
        ::send(hogs.back(), part.data(), part.size(), MSG_NOSIGNAL); // cut short when it is dropped
    }
    const int sender = Connect(receiver.Port());
    for (std::uint64_t seq = 1; seq <= 5; ++seq)
        Write(sender, Framed("octet-count", Rfc5424("capped", 0, seq)));
    const Outcome outcome = receiver.Finish();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(Figure(outcome.json, "received"), 5u);
    EXPECT_GT(Figure(outcome.json, "buffer_drops"), 0u);
    for (const int fd : hogs)
        ::close(fd);
    ::close(sender);
}

// Under a memory cap a peer opening stream after stream gets as many checked
// as the memory allows, the rest counted; an endless frame then runs the
// receiver out of memory, and it still ends with its summary and output.
TEST(RecvProgram, MemoryThatRunsOutEndsNoRunWithoutItsSummary)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's address space cannot be capped";
#endif
    std::string bytes;
    for (std::uint64_t stream = 0; stream < 40000; ++stream)
        bytes += Framed("lf", Rfc3164("flood", stream, 1));
    bytes += "<13>" + std::string(std::size_t{60} << 20, 'x');
    QTemporaryDir folder;
    const std::string output = folder.filePath("out.log").toStdString();
    Receiver receiver({"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--max-frame", "67108864", "--output",
                       output, "--json"},
                      150'000'000);
    const int fd = Connect(receiver.Port());
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); // cut short when the receiver ends
    const Outcome outcome = receiver.Finish();
    ::close(fd);
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
    EXPECT_EQ(outcome.json.value("error").toString(), "out of memory after 40,000 messages: the run ended there");
    EXPECT_GT(Figure(outcome.json, "untracked_stamps"), 0u);
    EXPECT_EQ(Figure(outcome.json, "received") + Figure(outcome.json, "untracked_stamps"), 40000u);
    const std::string written = FileText(QString::fromStdString(output));
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 40000);
}

TEST(RecvProgram, StopSignalsEndTheRunWithTheSummary)
{
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        Receiver receiver({"--bind", "127.0.0.1", "--port", "0", "--progress"});
        SendDatagrams(receiver.Port(), {Rfc3164("sig", 0, 1), Rfc3164("sig", 0, 2), "<13>no stamp"});
        // The progress line shows when they are in.
        EXPECT_TRUE(receiver.WaitForLine("3 messages received, "));
        receiver.Signal(signalNumber);
        const Outcome outcome = receiver.Finish();
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_NE(outcome.out.find("\n3 messages received in "), std::string::npos) << outcome.out;
        EXPECT_NE(outcome.out.find("stamped: 2 received, 0 lost"), std::string::npos) << outcome.out;
        EXPECT_NE(outcome.out.find("  run sig stream 0 (shard 0): 2 received"), std::string::npos) << outcome.out;
    }
}

TEST(RecvProgram, StatsFileHasALineEachSecondWithTheGapsSoFar)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("recv.jsonl"));
    Receiver receiver(
        {"--bind", "127.0.0.1", "--port", "0", "--duration", "1.5", "--quiet", "--stats-file", path.toStdString()});
    SendDatagrams(receiver.Port(), {Rfc3164("run1", StreamId(2, 0), 1), Rfc3164("run1", StreamId(2, 0), 2),
                                    Rfc3164("run1", StreamId(2, 0), 4)});
    EXPECT_EQ(receiver.Finish().exitCode, 1); // one lost
    std::vector<QJsonObject> lines = JsonLines(path);
    // Between the seconds' lines, the totals as they were, for a receiver that is killed.
    EXPECT_EQ(Figure(lines.front(), "total_received"), 3u);
    std::erase_if(lines, [](const QJsonObject &line) { return line.value("interim").toBool(); });
    ASSERT_EQ(lines.size(), 2u);
    std::uint64_t received = 0, bytes = 0;
    for (const QJsonObject &line : lines) {
        for (const char *key :
             {"elapsed", "epoch", "received", "mps", "bytes", "stamped", "lost_so_far", "connections"})
            EXPECT_TRUE(line.contains(QLatin1String(key))) << key;
        received += Figure(line, "received");
        bytes += Figure(line, "bytes");
    }
    EXPECT_EQ(received, 3u);
    EXPECT_GT(bytes, 3u * 34);
    EXPECT_EQ(Figure(lines.back(), "lost_so_far"), 1u);
}

// What arrived is handed to the system within a tenth of a second: a
// receiver killed at once leaves it in --output and --stats-file.
TEST(RecvProgram, AKilledReceiverLeavesWhatArrived)
{
    QTemporaryDir folder;
    const QString output = folder.filePath("out.txt"), stats = folder.filePath("stats.jsonl");
    Receiver receiver({"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--quiet", "--output",
                       output.toStdString(), "--stats-file", stats.toStdString()});
    const std::string first = Rfc5424("k", 0, 1), third = Rfc5424("k", 0, 3);
    const int fd = Connect(receiver.Port());
    Write(fd, Framed("lf", first) + Framed("lf", third));
    const QJsonObject last =
        AwaitJsonLine(stats, [](const QJsonObject &line) { return Figure(line, "total_received") == 2; });
    receiver.Signal(SIGKILL);
    receiver.Finish();
    EXPECT_EQ(Figure(last, "lost_so_far"), 1u);
    EXPECT_EQ(Figure(last, "connections"), 1u);
    EXPECT_EQ(FileText(output), first + "\n" + third + "\n");
    ::close(fd);
}
} // namespace
