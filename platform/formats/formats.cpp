#include "platform/formats/formats.h"

#include <QIODevice>
#include <QPluginLoader>
#include <QtPlugin>

#include <mutex>

// Built into this library as static plugins (see each plugin's file).
extern const QStaticPlugin qt_static_plugin_HeifPlugin();
extern const QStaticPlugin qt_static_plugin_JxlPlugin();
extern const QStaticPlugin qt_static_plugin_RawPlugin();

namespace formats {

void registerPlugins()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterStaticPluginFunction(qt_static_plugin_HeifPlugin());
        qRegisterStaticPluginFunction(qt_static_plugin_JxlPlugin());
        qRegisterStaticPluginFunction(qt_static_plugin_RawPlugin());
    });
}

QByteArray formatToInsistOn(QIODevice *device)
{
    if (looksLikeRaw(device))
        return "raw";
    return QByteArray();
}

static thread_local QString t_failure;

void setFailureReason(const QString &reason)
{
    t_failure = reason;
}

QString takeFailureReason()
{
    QString reason;
    reason.swap(t_failure);
    return reason;
}

QByteArray readWhole(QIODevice *device)
{
    // The largest file worth reading: a 1 GiB picture stored without any
    // compression at all, plus room for its container.
    constexpr qint64 kLargestFile = (qint64(1) << 30) + (qint64(64) << 20);
    if (!device)
        return QByteArray();
    const qint64 size = device->size();
    if (!device->isSequential() && (size <= 0 || size > kLargestFile))
        return QByteArray();
    if (device->isSequential()) {
        // A stream says nothing of its size beforehand; read in pieces.
        QByteArray data;
        while (data.size() <= kLargestFile) {
            const QByteArray piece = device->read(1 << 20);
            if (piece.isEmpty())
                break;
            data += piece;
        }
        return data.size() > kLargestFile ? QByteArray() : data;
    }
    return device->read(size - device->pos());
}

} // namespace formats
