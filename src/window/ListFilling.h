#pragma once

#include <QStringList>

#include <span>
#include <string_view>

class QComboBox;

QStringList ToStringList(std::span<const std::string_view> entries);

// Empties the list and adds the entries with no selection and without running
// the list's handler, so that selecting a stored entry afterwards runs it.
void FillList(QComboBox *list, std::span<const std::string_view> entries);
