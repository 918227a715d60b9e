#include "platform/childwindow.h"

#include "platform/twips.h"

#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>

ChildWindow::~ChildWindow()
{
    if (m_sub) {
        m_sub->removeEventFilter(this);
        delete m_sub.data();
    }
}

QMdiSubWindow *ChildWindow::load(QWidget *content, bool fixedBorder)
{
    Qt::WindowFlags flags = Qt::SubWindow;
    if (fixedBorder)
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    m_sub = m_area.addSubWindow(content, flags);
    m_sub->setAttribute(Qt::WA_DeleteOnClose);
    m_sub->installEventFilter(this);
    m_content = content;
    return m_sub;
}

void ChildWindow::forget()
{
    if (!m_content)
        return;
    // The window is deleted later, from the event loop; until then none of
    // its timers may tick for a window that is gone.
    for (QTimer *timer : m_content->findChildren<QTimer *>())
        timer->stop();
    m_sub = nullptr;
    m_content = nullptr;
    emit unloaded();
}

void ChildWindow::unload()
{
    if (m_sub) {
        QMdiSubWindow *sub = m_sub;
        forget();
        sub->removeEventFilter(this);
        sub->close();
    }
}

bool ChildWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_sub && event->type() == QEvent::Close)
        forget();
    return QObject::eventFilter(watched, event);
}

float ChildWindow::Width() const
{
    return m_sub ? TwipScale::forWidget(m_sub).toTwips(m_sub->frameGeometry().width()) : 0.0f;
}

float ChildWindow::Height() const
{
    return m_sub ? TwipScale::forWidget(m_sub).toTwips(m_sub->frameGeometry().height()) : 0.0f;
}

float ChildWindow::Left() const
{
    return m_sub ? TwipScale::forWidget(m_sub).toTwips(m_sub->x()) : 0.0f;
}

float ChildWindow::Top() const
{
    return m_sub ? TwipScale::forWidget(m_sub).toTwips(m_sub->y()) : 0.0f;
}

void ChildWindow::setLeft(float twips)
{
    if (m_sub)
        m_sub->move(qRound(TwipScale::forWidget(m_sub).toPixels(twips)), m_sub->y());
}

void ChildWindow::setTop(float twips)
{
    if (m_sub)
        m_sub->move(m_sub->x(), qRound(TwipScale::forWidget(m_sub).toPixels(twips)));
}
