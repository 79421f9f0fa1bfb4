#pragma once

#include <span>
#include <string>
#include <vector>

// The words of a choice among things that each have a name: "a|b|c" for a
// flag's value, "a, b or c" for a message, and the words for completion.
template <typename T, typename NameOf> std::string NameAlternatives(std::span<const T> items, NameOf name)
{
    std::string text;
    for (const T &item : items)
        text += (text.empty() ? "" : "|") + std::string(name(item));
    return text;
}

template <typename T, typename NameOf> std::string NameList(std::span<const T> items, NameOf name)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + std::string(name(items[i]));
    return text;
}

template <typename T, typename NameOf> std::vector<std::string> NameChoices(std::span<const T> items, NameOf name)
{
    std::vector<std::string> choices;
    for (const T &item : items)
        choices.emplace_back(name(item));
    return choices;
}
