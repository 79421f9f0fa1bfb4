#pragma once

#include <QStatusBar>

#include <array>

class QLabel;

// The status bar's six text panels, addressed from 1 like the design.
class StatusPanels : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusPanels(QWidget *parent = nullptr);

    void SetPanelText(int index, const QString &text);
    QString PanelText(int index) const;
    // Panel widths in pixels, for the layout.
    void SetPanelWidths(const std::array<int, 6> &widths);
    QLabel *Panel(int index) const;

private:
    std::array<QLabel *, 6> m_panels{};
};
