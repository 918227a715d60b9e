#pragma once

#include "platform/formats/formats.h"

#include <QCoreApplication>
#include <QTest>

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#endif

// Pins what the tests compare against: the offscreen platform, no scaling and
// 96 DPI (15 twips a pixel), whatever the machine or the caller set.
#define VELLUPIX_TEST_MAIN(TestClass)                                                                               \
    int main(int argc, char *argv[])                                                                                \
    {                                                                                                               \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                         \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                                \
        if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))                                                         \
            qputenv("QT_SCALE_FACTOR", "1");                                                                        \
        QCoreApplication::setAttribute(Qt::AA_Use96Dpi);                                                            \
        QApplication app(argc, argv);                                                                               \
        formats::registerPlugins();                                                                                 \
        app.setAttribute(Qt::AA_DontUseNativeDialogs);                                                              \
        TestClass tc;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                  \
        return QTest::qExec(&tc, argc, argv);                                                                       \
    }

// For the pieces that need no widgets, run as the workers run them: with no
// GUI application at all.
#define VELLUPIX_GUILESS_TEST_MAIN(TestClass)                                                                      \
    int main(int argc, char *argv[])                                                                                \
    {                                                                                                               \
        QCoreApplication app(argc, argv);                                                                           \
        formats::registerPlugins();                                                                                 \
        TestClass tc;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                  \
        return QTest::qExec(&tc, argc, argv);                                                                       \
    }
