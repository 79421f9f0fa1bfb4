#include "handlers/StatusPanels.h"

#include <QLabel>

StatusPanels::StatusPanels(QWidget *parent) : QStatusBar(parent)
{
    setSizeGripEnabled(false);
    for (std::size_t i = 0; i < m_panels.size(); ++i) {
        auto *label = new QLabel(this);
        label->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        addPermanentWidget(label, i == 0 ? 1 : 0);
        m_panels[i] = label;
    }
}

void StatusPanels::SetPanelText(int index, const QString &text)
{
    if (QLabel *label = Panel(index))
        label->setText(text);
}

QString StatusPanels::PanelText(int index) const
{
    const QLabel *label = Panel(index);
    return label ? label->text() : QString();
}

void StatusPanels::SetPanelWidths(const std::array<int, 6> &widths)
{
    for (std::size_t i = 0; i < m_panels.size(); ++i)
        m_panels[i]->setFixedWidth(widths[i]);
}

QLabel *StatusPanels::Panel(int index) const
{
    if (index < 1 || index > static_cast<int>(m_panels.size()))
        return nullptr;
    return m_panels[static_cast<std::size_t>(index - 1)];
}
