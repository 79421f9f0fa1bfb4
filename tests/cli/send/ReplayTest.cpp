#include "cli/common/CliProcess.h"

#include <QDate>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>

namespace {
// Replays to a loopback socket that keeps the kernel's time of each
// arrival, read after the sender ended, so the test's own scheduling cannot
// move the times.
std::vector<std::pair<std::string, double>> Replayed(std::vector<std::string> args, Outcome &outcome)
{
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(socket, reinterpret_cast<sockaddr *>(&address), length);
    ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length);
    args.insert(args.end(), {"--port", std::to_string(ntohs(address.sin_port))});
    outcome = RunToEnd(QStringLiteral(QUILLON_SEND_PATH), args);
    std::vector<std::pair<std::string, double>> arrivals;
    char data[4096];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    iovec part{data, sizeof data};
    msghdr message{nullptr, 0, &part, 1, control, sizeof control, 0};
    for (ssize_t got; (got = ::recvmsg(socket, &message, MSG_DONTWAIT)) >= 0; message.msg_controllen = sizeof control) {
        timespec when{};
        if (const cmsghdr *c = CMSG_FIRSTHDR(&message); c && c->cmsg_type == SCM_TIMESTAMPNS)
            std::memcpy(&when, CMSG_DATA(c), sizeof when);
        arrivals.emplace_back(std::string(data, static_cast<std::size_t>(got)), when.tv_sec + when.tv_nsec / 1e9);
    }
    ::close(socket);
    return arrivals;
}

const std::vector<std::string> Lines = {
    "2026-03-05T14:03:09.000+01:00 web1 app[1]: one",   "2026-03-05T14:03:09.000+01:00 web1 app[1]: two",
    "2026-03-05T14:03:09.200+01:00 web1 app[1]: three", "2026-03-05T14:03:09.250+01:00 web1 app[1]: four",
    "2026-03-05T14:03:09.750+01:00 web1 app[1]: five",  "2026-03-05T14:03:10.250+01:00 web1 app[1]: six",
};
// Before each line, since the line before.
const std::vector<double> GapsMs = {0, 0, 200, 50, 500, 500};

TEST(Replay, LinesKeepTheirGapsScaledBySpeedTheirBytesAndTheirOrder)
{
    QTemporaryDir folder;
    const std::string log = folder.filePath("gaps.log").toStdString();
    std::ofstream file(log);
    for (const std::string &line : Lines)
        file << line << "\n\n"; // empty lines carry nothing
    file.close();
    // Each gap within 10 ms or 2%. A machine busy with other work can hold
    // the sender back past any tolerance (a throttled container waits out
    // 100 ms): the gaps must hold in one of a few runs, which a wrong pace
    // misses in all.
    Outcome outcome;
    for (const double speed : {1.0, 2.0}) {
        std::string missed = "not run";
        for (int attempt = 0; attempt < 4 && !missed.empty(); ++attempt) {
            const auto arrivals = Replayed({"--replay", log, "--speed", std::to_string(speed), "--stats-file",
                                            folder.filePath(QString::number(speed)).toStdString()},
                                           outcome);
            ASSERT_EQ(arrivals.size(), Lines.size()) << outcome.err;
            missed.clear();
            for (std::size_t i = 0; i < Lines.size(); ++i) {
                EXPECT_EQ(arrivals[i].first, "<13>" + Lines[i]);
                const double gap = i == 0 ? 0 : (arrivals[i].second - arrivals[i - 1].second) * 1000;
                if (std::abs(gap - GapsMs[i] / speed) > std::max(10.0, GapsMs[i] / speed * 0.02))
                    missed += " " + std::to_string(gap) + " ms before line " + std::to_string(i);
            }
        }
        EXPECT_EQ(missed, "") << "at speed " << speed;
    }
    // The per-second records show the shape: five lines due and sent, then one.
    const std::vector<QJsonObject> records = JsonLines(folder.filePath(QStringLiteral("1")));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NEAR(records[0].value(QLatin1String("target_mps")).toDouble(), 5, 0.1);
    EXPECT_EQ(Figure(records[0], "sent"), 5u);
    EXPECT_EQ(Figure(records[1], "sent"), 1u);

    // At full speed, looped, dealt to two threads (each its own stream, in
    // order), with today's time in place of each line's.
    const QDate before = QDate::currentDate();
    const auto arrivals = Replayed(
        {"--replay", log, "--speed", "max", "--loop", "--count", "12", "--threads", "2", "--rewrite-time", "--stamp"},
        outcome);
    ASSERT_EQ(arrivals.size(), 12u) << outcome.err;
    EXPECT_LT(arrivals.back().second - arrivals.front().second, 0.25);
    const std::regex stamped("<13>(\\d{4}-\\d\\d-\\d\\d)T\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)( web1 "
                             "app\\[1\\]: \\w+) quillon=\\w+:(\\d+):\\d+:\\d+");
    std::map<std::string, std::string> streams;
    std::string dealt[3];
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(arrivals[i].first, parts, stamped)) << arrivals[i].first;
        const QDate date = QDate::fromString(QString::fromStdString(parts[1]), Qt::ISODate);
        EXPECT_TRUE(date == before || date == QDate::currentDate()) << arrivals[i].first;
        streams[parts[4]] += parts[3];
        dealt[1 + i % 2] += Lines[i % Lines.size()].substr(29);
    }
    EXPECT_EQ(streams, (std::map<std::string, std::string>{{"1", dealt[1]}, {"2", dealt[2]}}));
}
} // namespace
