#include "support/testpictures.h"

#include "platform/runtimeerror.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTest>

namespace testpictures {

QImage make(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QPainter p(&image);
    QLinearGradient g(0, 0, size.width(), size.height());
    g.setColorAt(0, colour);
    g.setColorAt(1, colour.darker(200));
    p.fillRect(image.rect(), g);
    p.fillRect(QRect(0, 0, qMax(1, size.width() / 8), qMax(1, size.height() / 8)), Qt::white);
    return image;
}

QString write(const QString &dir, const QString &name, QSize size, QColor colour, const char *format)
{
    const QString path = QDir(dir).filePath(name);
    if (!make(size, colour).save(path, format))
        qFatal("cannot write the test picture %s", qPrintable(path));
    return path;
}

void writeText(const QString &path, const QByteArray &content)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

QString testdata(const QString &relative)
{
    return QDir(QStringLiteral(VELLUPIX_TESTDATA)).filePath(relative);
}

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const RuntimeError &error) {
        return error.description();
    }
    return QString();
}

} // namespace testpictures
