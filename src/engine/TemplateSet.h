#pragma once

#include "engine/MessageTemplate.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One template of a set: its text, how often it is chosen against the
// others, and the APP-NAME (RFC 3164 tag) its messages go out under, empty
// for the sender's own.
struct TemplateEntry {
    std::string text;
    double weight = 1;
    std::string app;
};

// Several templates, chosen in turn, or at random by weight when any of them
// has one (each draw from the program's random sequence).
//
// A template file holds one template a line:
//   # a comment; blank lines are skipped
//   [weight=90 app=sshd] Accepted password for ${line:users.txt} from ${ip}
//   a template with weight 1 and the sender's APP-NAME
//   [] [a template that starts with a bracket
// Options go in brackets at the start of the line, then one space: weight=W
// (a number of 0 or more) and app=NAME. Relative file names in fields are
// found beside the template file.
class TemplateSet {
public:
    enum class Order { InTurn, ByWeight };

    static Result<TemplateSet> FromEntries(std::span<const TemplateEntry> entries, Order order,
                                           const MessageTemplate::Options &options);
    // One --template text.
    static Result<TemplateSet> FromText(std::string_view text, const MessageTemplate::Options &options);
    // A template file's text; errors name origin and the line:
    // "t.txt line 3: field ${foo} at column 9: unknown field 'foo'". A set
    // whose Footprint() would pass the memory budget (common/MemoryBudget.h)
    // fails saying how much it needs, its lines read on to count that but
    // not kept.
    static Result<TemplateSet> Parse(std::string_view text, std::string_view origin, MessageTemplate::Options options);
    static Result<TemplateSet> FromFile(const std::string &path, MessageTemplate::Options options);

    // The index of the next message's template.
    std::size_t NextIndex();
    MessageTemplate &Template(std::size_t index) { return m_templates[index]; }
    const std::string &App(std::size_t index) const { return m_apps[index]; }
    std::size_t Count() const { return m_templates.size(); }
    Order GetOrder() const { return m_order; }
    // The longest any of them writes with this context.
    std::size_t MaxLength(const TemplateContext &context) const;
    // The bytes the set holds and a render of each template needs.
    std::size_t Footprint() const { return m_footprint; }

private:
    std::vector<MessageTemplate> m_templates;
    std::vector<std::string> m_apps;
    std::vector<double> m_cumulative;
    Order m_order = Order::InTurn;
    std::size_t m_next = 0;
    std::size_t m_footprint = 0;

    // false when the set passes budget.
    bool Keep(MessageTemplate compiled, std::string app, double weight, std::size_t budget);
};
