#include "engine/TemplateSet.h"

#include "common/MemoryBudget.h"
#include "common/Random.h"
#include "common/StopFlag.h"
#include "engine/MessageFormat.h"
#include "sources/TextLines.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {
// Reads "[weight=W app=NAME] " at the start of a line into entry; returns
// where the template starts, or npos with error.
std::size_t ReadOptions(std::string_view line, TemplateEntry &entry, bool &weighted, std::string &error)
{
    if (line.empty() || line[0] != '[')
        return 0;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) {
        error = "the options in '[' have no closing ']' (a template starting with '[' is written after \"[] \")";
        return std::string_view::npos;
    }
    std::string_view options = line.substr(1, close - 1);
    while (!options.empty()) {
        const std::size_t space = options.find(' ');
        const std::string_view option = options.substr(0, space);
        options = space == std::string_view::npos ? std::string_view() : options.substr(space + 1);
        if (option.empty())
            continue;
        if (option.starts_with("weight=")) {
            const std::string_view value = option.substr(7);
            double weight = -1;
            const auto result = std::from_chars(value.data(), value.data() + value.size(), weight);
            if (value.empty() || result.ec != std::errc() || result.ptr != value.data() + value.size() ||
                !std::isfinite(weight) || weight < 0) {
                error = "the weight '" + std::string(value) + "' is not a number of 0 or more";
                return std::string_view::npos;
            }
            entry.weight = weight;
            weighted = true;
        } else if (option.starts_with("app=")) {
            entry.app = option.substr(4);
            if (std::string fault = CheckAppName(entry.app); !fault.empty()) {
                error = "app=" + entry.app + ": " + fault;
                return std::string_view::npos;
            }
        } else {
            error = "unknown option '" + std::string(option) + "' (weight=W or app=NAME)";
            return std::string_view::npos;
        }
    }
    return close + 1 < line.size() && line[close + 1] == ' ' ? close + 2 : close + 1;
}

// Beside each template, its APP-NAME and its weight's running sum.
constexpr std::size_t EntryBytes = sizeof(MessageTemplate) + sizeof(std::string) + sizeof(double);

Status OverBudget(std::string_view origin, std::size_t need, std::size_t budget)
{
    return Status::Failure(std::string(origin) + (origin.empty() ? "" : ": ") + "the template" +
                           (origin.empty() ? "" : "s") + " need" + (origin.empty() ? "s " : " ") + MemoryText(need) +
                           ", more than " + BudgetText(budget));
}

bool Blank(std::string_view line)
{
    return line.find_first_not_of(" \t") == std::string_view::npos;
}
} // namespace

Result<TemplateSet> TemplateSet::FromEntries(std::span<const TemplateEntry> entries, Order order,
                                             const MessageTemplate::Options &options)
{
    if (entries.empty())
        return Status::Failure("there is no template");
    MessageTemplate::Options shared = options;
    if (!shared.files)
        shared.files = MakeTemplateFileCache();
    TemplateSet set;
    set.m_order = order;
    const std::size_t budget = InputBudget();
    for (const TemplateEntry &entry : entries) {
        Result<MessageTemplate> compiled = MessageTemplate::Compile(entry.text, shared);
        if (!compiled)
            return compiled.Outcome();
        if (!set.Keep(std::move(*compiled), entry.app, entry.weight, budget))
            return OverBudget("", set.m_footprint, budget);
    }
    if (order == Order::ByWeight && !(set.m_cumulative.back() > 0))
        return Status::Failure("the weights add up to 0");
    return set;
}

Result<TemplateSet> TemplateSet::FromText(std::string_view text, const MessageTemplate::Options &options)
{
    const TemplateEntry entry{std::string(text), 1, {}};
    return FromEntries(std::span(&entry, 1), Order::InTurn, options);
}

Result<TemplateSet> TemplateSet::Parse(std::string_view text, std::string_view origin, MessageTemplate::Options options)
{
    if (!options.files)
        options.files = MakeTemplateFileCache();
    const TextLines lines = TextLines::FromText(std::string(text));
    TemplateSet set;
    bool weighted = false;
    const std::size_t budget = InputBudget();
    bool over = false;
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        // Millions of lines take seconds to compile.
        if (StopRequested())
            return Status::Failure(std::string(origin) + ": stopped at line " + std::to_string(i + 1));
        const std::string_view line = lines.Line(i);
        if (Blank(line) || line[0] == '#')
            continue;
        const std::string where = std::string(origin) + " line " + std::to_string(i + 1) + ": ";
        TemplateEntry entry;
        std::string fault;
        const std::size_t start = ReadOptions(line, entry, weighted, fault);
        if (start == std::string_view::npos)
            return Status::Failure(where + fault);
        options.firstColumn = start + 1;
        Result<MessageTemplate> compiled = MessageTemplate::Compile(line.substr(start), options);
        if (!compiled && over)
            break;
        if (!compiled)
            return Status::Failure(where + compiled.Why());
        over = !set.Keep(std::move(*compiled), std::move(entry.app), entry.weight, budget) || over;
    }
    if (over)
        return OverBudget(origin, set.m_footprint, budget);
    if (set.m_templates.empty())
        return Status::Failure(std::string(origin) + " has no template");
    set.m_order = weighted ? Order::ByWeight : Order::InTurn;
    if (weighted && !(set.m_cumulative.back() > 0))
        return Status::Failure(std::string(origin) + ": the weights add up to 0");
    return set;
}

Result<TemplateSet> TemplateSet::FromFile(const std::string &path, MessageTemplate::Options options)
{
    const Result<TextLines> file = TextLines::Read(path);
    if (!file)
        return file.Outcome();
    if (options.folder.empty()) {
        const std::size_t slash = path.rfind('/');
        options.folder =
            slash == std::string::npos ? std::string(".") : path.substr(0, std::max<std::size_t>(slash, 1));
    }
    std::string text;
    for (std::size_t i = 0; i < file->Count(); ++i) {
        text += file->Line(i);
        text.push_back('\n');
    }
    return Parse(text, path, std::move(options));
}

bool TemplateSet::Keep(MessageTemplate compiled, std::string app, double weight, std::size_t budget)
{
    // Counted before it is kept, and once past the budget only counted, so
    // the set never holds more than the budget on the way to saying how much
    // it would need.
    m_footprint += compiled.Footprint() + EntryBytes + app.capacity();
    if (m_footprint > budget) {
        m_templates.clear();
        m_templates.shrink_to_fit();
        m_apps.clear();
        m_apps.shrink_to_fit();
        m_cumulative.clear();
        m_cumulative.shrink_to_fit();
        return false;
    }
    const double sum = m_cumulative.empty() ? 0 : m_cumulative.back();
    m_templates.push_back(std::move(compiled));
    m_apps.push_back(std::move(app));
    m_cumulative.push_back(sum + weight);
    return true;
}

std::size_t TemplateSet::NextIndex()
{
    if (m_templates.size() == 1)
        return 0;
    if (m_order == Order::InTurn) {
        const std::size_t index = m_next;
        m_next = m_next + 1 == m_templates.size() ? 0 : m_next + 1;
        return index;
    }
    const double at = NextRandom() * m_cumulative.back();
    std::size_t index = 0;
    // A few templates are counted without a branch a random draw would mispredict.
    if (m_cumulative.size() <= 16) {
        for (const double sum : m_cumulative)
            index += sum <= at ? 1 : 0;
    } else {
        index = static_cast<std::size_t>(std::upper_bound(m_cumulative.begin(), m_cumulative.end(), at) -
                                         m_cumulative.begin());
    }
    return std::min(index, m_cumulative.size() - 1);
}

std::size_t TemplateSet::MaxLength(const TemplateContext &context) const
{
    std::size_t longest = 0;
    for (const MessageTemplate &compiled : m_templates)
        longest = std::max(longest, compiled.MaxLength(context));
    return longest;
}
