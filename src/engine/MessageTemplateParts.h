#pragma once

#include "engine/MessageTemplate.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What a compiled template is made of, shared by its compiler and its
// renderer; nothing outside the two reads it.

class Clock;

// The width a number slot reserves: the digits of any 64-bit value.
inline constexpr std::size_t NumberRoom = 20;

struct PickTable;

// Files read once for all the templates compiled with one cache: the lines
// of a ${line} file, and its Zipf weights per exponent.
struct TemplateFileCache {
    std::map<std::string, std::shared_ptr<const PickTable>> tables;
};

// The texts a pick slot chooses from, one after another in one string, and
// for weighted picks an alias table (Walker's method), so a pick by weight
// costs one draw and no search however many texts there are: a column of
// those with a weight above 0, each kept when the draw's low bits fall below
// its threshold and its alias taken otherwise.
struct PickTable {
    // A record of each text, its length in the last byte, when all are short
    // and not too many: a pick copies a whole record and reads nothing else.
    static constexpr std::size_t RecordSize = 32;
    static constexpr std::size_t MostRecords = 4096;
    std::vector<std::array<char, RecordSize>> records;
    std::string pool;
    std::vector<std::uint32_t> starts;
    std::vector<std::uint32_t> lengths;
    // A column of the alias table: read together, in one load.
    struct Column {
        std::uint32_t text;
        std::uint32_t threshold;
        std::uint32_t alias;
    };
    std::vector<Column> columns;
    std::size_t longest = 0;

    void Add(std::string_view text)
    {
        starts.push_back(static_cast<std::uint32_t>(pool.size()));
        lengths.push_back(static_cast<std::uint32_t>(text.size()));
        pool += text;
        longest = std::max(longest, text.size());
    }
    // Room to copy the last text in whole steps (CopyPadded).
    void Seal()
    {
        pool.append(32, '\0');
        if (longest >= RecordSize || starts.size() > MostRecords)
            return;
        records.resize(starts.size());
        for (std::size_t i = 0; i < starts.size(); ++i) {
            std::memcpy(records[i].data(), pool.data() + starts[i], lengths[i]);
            records[i][RecordSize - 1] = static_cast<char>(lengths[i]);
        }
    }

    // weights[i] >= 0 for each text, not all 0.
    void Weigh(const std::vector<double> &weights)
    {
        double sum = 0;
        std::vector<std::uint32_t> column;
        for (std::size_t i = 0; i < weights.size(); ++i)
            if (weights[i] > 0) {
                column.push_back(static_cast<std::uint32_t>(i));
                sum += weights[i];
            }
        const std::size_t n = column.size();
        std::vector<double> share(n);
        std::vector<std::size_t> small;
        std::vector<std::size_t> large;
        for (std::size_t j = 0; j < n; ++j) {
            share[j] = weights[column[j]] * static_cast<double>(n) / sum;
            (share[j] < 1 ? small : large).push_back(j);
        }
        std::vector<std::uint32_t> threshold(n, 0xffffffffu);
        std::vector<std::uint32_t> alias(column.begin(), column.end());
        while (!small.empty() && !large.empty()) {
            const std::size_t less = small.back();
            const std::size_t more = large.back();
            small.pop_back();
            threshold[less] = static_cast<std::uint32_t>(share[less] * 4294967296.0);
            alias[less] = column[more];
            share[more] -= 1 - share[less];
            if (share[more] < 1) {
                large.pop_back();
                small.push_back(more);
            }
        }
        for (std::size_t j = 0; j < n; ++j)
            columns.push_back({column[j], threshold[j], alias[j]});
    }
};

enum class PartKind : std::uint8_t {
    Literal,
    Ip,
    Ipv6,
    Int,
    // An integer range within 0 .. 10^8 - 1: no sign, and no long form.
    SmallInt,
    Hex,
    Uuid,
    Pick,
    // A pick whose texts all fit a record, uniform or by weight.
    PickRecord,
    WeightedRecord,
    Counter,
    Seq,
    Priority,
    Time,
    Stamp,
    Text
};

// A slot and the literal run before it, so a message takes one step per
// slot; a Literal part is a run with no slot after it.
struct MessageTemplate::Part {
    PartKind kind = PartKind::Literal;
    StampForm form = StampForm::Token;
    // Stamp: whether it writes its form's separator first.
    bool lead = true;
    // The run before the slot, in m_literals.
    std::uint32_t prefixStart = 0;
    std::uint32_t prefixLength = 0;
    // Hex: the digits; Time: its TimeText; Text: the context's text.
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    // Int: the low end and the count of values (0: all 2^64).
    std::int64_t low = 0;
    std::uint64_t span = 0;
    std::shared_ptr<const PickTable> pick;
};

// The stamp's text up to its number, kept while the run and stream stay, and
// its time's text while the time stays: within a batch only the number changes.
struct MessageTemplate::StampCache {
    bool made = false;
    std::string run;
    std::uint64_t stream = 0;
    StampForm form = StampForm::Token;
    // Each with room to copy it in whole steps (CopyPadded).
    char head[128] = {};
    std::size_t headLength = 0;
    std::int64_t sentUs = -1;
    char time[48] = {};
    std::size_t timeLength = 0;
    // The last number written, counted on in place when the next follows it.
    std::uint64_t seq = 0;
    char seqText[40] = {};
    std::size_t seqLength = 0;

    // The digits of next in seqText, their count returned: a number one
    // above the last is counted on in place, without a division.
    std::size_t CountOn(std::uint64_t next)
    {
        if (seqLength == 0 || next != seq + 1 || seq == UINT64_MAX) {
            seqLength = static_cast<std::size_t>(std::to_chars(seqText, seqText + 24, next).ptr - seqText);
        } else {
            std::size_t i = seqLength;
            while (i > 0 && seqText[i - 1] == '9')
                seqText[--i] = '0';
            if (i == 0) {
                std::memmove(seqText + 1, seqText, seqLength++);
                seqText[0] = '1';
            } else {
                ++seqText[i - 1];
            }
        }
        seq = next;
        return seqLength;
    }
};

// A friend's view of the parts, so the reader adds slots the builder methods
// do not offer.
struct TemplateParts {
    static void AddInt(MessageTemplate &t, std::int64_t low, std::uint64_t span);
    static void AddHex(MessageTemplate &t, std::size_t digits);
    static void AddPick(MessageTemplate &t, std::shared_ptr<const PickTable> table);
    static void AddKind(MessageTemplate &t, PartKind kind, std::size_t width, std::size_t draws = 0);
    static void AddStrftime(MessageTemplate &t, const std::string &format, const Clock &clock);
    // A stamp with its separator only where the text before it needs one.
    static void AddFittedStamp(MessageTemplate &t, StampForm form);
};
