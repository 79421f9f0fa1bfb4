#include "engine/StructuredDataRows.h"

#include "engine/StructuredData.h"

#include <algorithm>

std::string SdElementsFromRows(const std::vector<SdRow> &rows, std::vector<std::string> &elements)
{
    std::vector<SdElement> found;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const SdRow &row = rows[i];
        if (row.id.empty() && row.name.empty() && row.value.empty())
            continue;
        SdElement single{row.id, {}};
        if (!row.name.empty() || !row.value.empty())
            single.params.push_back({row.name, row.value});
        if (const std::string problem = CheckSdElement(single); !problem.empty())
            return "row " + std::to_string(i + 1) + ": " + problem;
        const auto same = std::find_if(found.begin(), found.end(), [&](const SdElement &e) { return e.id == row.id; });
        SdElement &element = same != found.end() ? *same : found.emplace_back(SdElement{row.id, {}});
        element.params.insert(element.params.end(), single.params.begin(), single.params.end());
    }
    elements.clear();
    for (const SdElement &element : found)
        elements.push_back(SdElementText(element));
    return {};
}

std::vector<SdRow> SdRowsFromElements(const std::vector<std::string> &elements)
{
    std::vector<SdRow> rows;
    for (const std::string &text : elements) {
        SdElement element;
        if (!ParseSdElement(text, element).empty())
            continue;
        if (element.params.empty())
            rows.push_back({element.id, {}, {}});
        for (const SdParam &param : element.params)
            rows.push_back({element.id, param.name, param.value});
    }
    return rows;
}
