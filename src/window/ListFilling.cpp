#include "window/ListFilling.h"

#include <QComboBox>
#include <QSignalBlocker>

QStringList ToStringList(std::span<const std::string_view> entries)
{
    QStringList list;
    list.reserve(static_cast<qsizetype>(entries.size()));
    for (std::string_view entry : entries)
        list.append(QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size())));
    return list;
}

void FillList(QComboBox *list, std::span<const std::string_view> entries)
{
    const QSignalBlocker blocker(list);
    list->clear();
    list->addItems(ToStringList(entries));
    list->setCurrentIndex(-1);
}
