#include "platform/formats/formats.h"

#include <QtPlugin>

#include <mutex>

// Built into this library as static plugins (see each plugin's file).
extern const QStaticPlugin qt_static_plugin_HeifPlugin();
extern const QStaticPlugin qt_static_plugin_JxlPlugin();
extern const QStaticPlugin qt_static_plugin_RawPlugin();

void formats::registerPlugins()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterStaticPluginFunction(qt_static_plugin_HeifPlugin());
        qRegisterStaticPluginFunction(qt_static_plugin_JxlPlugin());
        qRegisterStaticPluginFunction(qt_static_plugin_RawPlugin());
    });
}
