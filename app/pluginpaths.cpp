#include "app/pluginpaths.h"

#include <QApplication>
#include <QEvent>

PluginPathsHeld::PluginPathsHeld()
{
    QApplication::style();
    m_paths = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths({});
    m_held = true;
    qApp->installEventFilter(this);
}

PluginPathsHeld::~PluginPathsHeld()
{
    release();
}

bool PluginPathsHeld::eventFilter(QObject *, QEvent *event)
{
    // Before the paint: an icon of a theme is read when it is first drawn,
    // and may need a plugin (SVG).
    if (event->type() == QEvent::Paint)
        release();
    return false;
}

void PluginPathsHeld::release()
{
    if (!m_held)
        return;
    m_held = false;
    qApp->removeEventFilter(this);
    QCoreApplication::setLibraryPaths(m_paths);
}
