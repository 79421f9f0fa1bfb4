#include "proof/ProxyTally.h"

#include <algorithm>

std::size_t ProxyTally::Session(const ProxyAddress &address)
{
    std::string source = ProxyAddressText(address);
    auto found = m_index.find(source);
    if (found == m_index.end()) {
        if (m_index.size() >= Limit)
            source = Other;
        found = m_index.try_emplace(std::move(source), m_rows.size()).first;
        if (found->second == m_rows.size())
            m_rows.push_back({found->first});
    }
    ++m_rows[found->second].sessions;
    return found->second;
}

std::vector<ProxyTally::Row> ProxyTally::Rows() const
{
    std::vector<Row> rows = m_rows;
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) {
        return (a.source == Other) != (b.source == Other) ? b.source == Other : a.messages > b.messages;
    });
    return rows;
}
