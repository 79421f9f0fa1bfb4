#pragma once

#include "transport/ProxyHeader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// Sessions and messages per client that PROXY headers claimed. A peer may
// claim any address, so at most Limit are told apart; the sessions of
// others count together under "other".
class ProxyTally {
public:
    struct Row {
        std::string source;
        std::uint64_t sessions = 0;
        std::uint64_t messages = 0;
    };
    static constexpr std::size_t Limit = 4096;
    static constexpr const char *Other = "other";

    // A session that claimed address: its row, for its messages.
    std::size_t Session(const ProxyAddress &address);
    void Message(std::size_t row) { ++m_rows[row].messages; }
    // The most messages first (in a tie, the first claimed), "other" last.
    std::vector<Row> Rows() const;
    bool Empty() const { return m_rows.empty(); }

private:
    std::vector<Row> m_rows;
    std::unordered_map<std::string, std::size_t> m_index;
};
