#include "app/pluginpaths.h"

#include <QApplication>
#include <QEvent>

PluginPathsHeld::PluginPathsHeld()
{
    // Only where the window system loads nothing more for a window of ours:
    // Wayland's, for one, loads its shell and its window decorations when
    // the first window is made.
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && platform != QLatin1String("offscreen"))
        return;
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
