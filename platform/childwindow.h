#pragma once

#include <QObject>
#include <QMdiSubWindow>
#include <QPointer>

class QMdiArea;
class QWidget;

// A child window of the frame as the form designer's platform has it: loading
// creates its controls, unloading (also by the close control) destroys them,
// and the object that owns this outlives both.
class ChildWindow : public QObject
{
    Q_OBJECT
public:
    explicit ChildWindow(QMdiArea &area) : m_area(area) { }
    ~ChildWindow() override;

    bool isLoaded() const { return !m_content.isNull(); }
    QWidget *content() const { return m_content; }
    QMdiSubWindow *subWindow() const { return m_sub; }
    QMdiArea &area() const { return m_area; }

    // Takes the content into a new child window; not shown yet.
    QMdiSubWindow *load(QWidget *content, bool fixedBorder);
    void unload();

    // Outer size and position, in twips; Left and Top from the frame's inner
    // top-left corner.
    float Width() const;
    float Height() const;
    float Left() const;
    float Top() const;
    void setLeft(float twips);
    void setTop(float twips);

signals:
    void unloaded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void forget();

    QMdiArea &m_area;
    QPointer<QMdiSubWindow> m_sub;
    QPointer<QWidget> m_content;
};
