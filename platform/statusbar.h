#pragma once

#include <QWidget>

#include <array>

class QLabel;

// A status bar of four text panels, numbered 1 to 4 from the left. Each panel
// is at least its design width and grows with its text; what does not fit in
// the window is cut at the right edge instead of widening the window.
class StatusBar : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPanels = 4;

    StatusBar(const std::array<float, kPanels> &widthsInTwips, QWidget *parent = nullptr);

    QString panelText(int panel) const;
    void setPanelText(int panel, const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutPanels();

    std::array<float, kPanels> m_widths;
    std::array<QString, kPanels> m_texts;
    std::array<QLabel *, kPanels> m_labels{};
};
