#include "platform/statusbar.h"

#include "platform/filelist.h"
#include "platform/twips.h"

#include <QLabel>

StatusBar::StatusBar(const std::array<float, kPanels> &widthsInTwips, QWidget *parent)
    : QWidget(parent), m_widths(widthsInTwips)
{
    for (int i = 0; i < kPanels; ++i) {
        auto *label = new QLabel(this);
        label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        label->setAccessibleDescription(QStringLiteral("Status panel %1").arg(i + 1));
        m_labels[size_t(i)] = label;
    }
    layoutPanels();
}

QString StatusBar::panelText(int panel) const
{
    Q_ASSERT(panel >= 1 && panel <= kPanels);
    return m_texts[size_t(panel - 1)];
}

void StatusBar::setPanelText(int panel, const QString &text)
{
    Q_ASSERT(panel >= 1 && panel <= kPanels);
    m_texts[size_t(panel - 1)] = text;
    QLabel *label = m_labels[size_t(panel - 1)];
    const QString shown = displayName(text);
    label->setText(shown);
    label->setAccessibleName(shown);
    label->setToolTip(shown);
    layoutPanels();
}

QSize StatusBar::sizeHint() const
{
    return QSize(400, m_labels[0]->sizeHint().height());
}

QSize StatusBar::minimumSizeHint() const
{
    return QSize(0, m_labels[0]->sizeHint().height());
}

void StatusBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutPanels();
}

void StatusBar::layoutPanels()
{
    const TwipScale scale = TwipScale::forWidget(this);
    int x = 0;
    for (int i = 0; i < kPanels; ++i) {
        QLabel *label = m_labels[size_t(i)];
        const int designWidth = qRound(scale.toPixels(m_widths[size_t(i)]));
        const int width = qMax(designWidth, label->sizeHint().width() + 8);
        label->setGeometry(x, 0, width, height());
        x += width + 2;
    }
}
