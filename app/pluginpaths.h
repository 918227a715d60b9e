#pragma once

#include <QObject>
#include <QStringList>

// Keeps Qt from loading every image plugin on the system while the frame is
// built. Qt's style reads its own PNG icons then (the menu bar's and the
// toolbar's extension buttons, the picture window's title bar), and a PNG
// read without a named format first asks each image plugin whether it is
// one of its own, loading the plugin and its libraries (TIFF, WebP, MNG, SVG
// and more): some ten milliseconds before the first picture. The viewer
// decodes no picture itself, so Qt's plugin paths are held empty from here
// until the first paint, and given back before anything is painted. On X11
// (and offscreen) only.
class PluginPathsHeld : public QObject
{
public:
    // After the application object; makes the style first, which may come
    // from a plugin the user chose.
    PluginPathsHeld();
    ~PluginPathsHeld() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void release();

    QStringList m_paths;
    bool m_held = false;
};
