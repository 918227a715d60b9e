// The lean decoder the viewer forks from itself at its start, before any
// thread exists: this test's main forks it the same way, before the test
// application is made. Run with --passed-over, it forks it for a GIF named
// as a JPEG, which the copy cannot read.

#include "decoder/decoder.h"
#include "platform/decoderpool.h"
#include "platform/picture.h"
#include "support/testpictures.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

std::unique_ptr<DecoderPool> g_pool;
pid_t g_lean = -1;
QByteArray g_mislabelled; // with --passed-over

QByteArray firstPicture()
{
    return QFile::encodeName(testpictures::testdata(QStringLiteral("jpeg/libjpeg-turbo/good/testorig.jpg")));
}

QByteArray statusOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    return status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
}

} // namespace

class TestLeanFork : public QObject
{
    Q_OBJECT

private slots:
    void firstPictureIsDecodedInTheConfinedCopy();
    void copyIsRetiredAfterItsPicture();
};

void TestLeanFork::firstPictureIsDecodedInTheConfinedCopy()
{
    QVERIFY(g_lean > 0);
    const QImage decoded = g_pool->LoadPicture(firstPicture());
    QCOMPARE(decoded, picture::LoadPicture(firstPicture()));
    // Told by its first bytes, not by asking every plugin: Qt's GIF plugin
    // stands for the ones a JPEG never needed.
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QVERIFY(!maps.readAll().contains("imageformats/libqgif"));
    // Served by the copy: no decoding program was started for it.
    QCOMPARE(g_pool->started(), 1);
    QVERIFY2(statusOf(g_lean).contains("\nSeccomp:\t2\n"), statusOf(g_lean).constData());
}

void TestLeanFork::copyIsRetiredAfterItsPicture()
{
    const QByteArray png = QFile::encodeName(testpictures::testdata(QStringLiteral("png/pngsuite/good/basn2c08.png")));
    QVERIFY(QFile::exists(QString::fromLocal8Bit(png)));
    QCOMPARE(g_pool->LoadPicture(png), picture::LoadPicture(png));
    // Killed and reaped: full decoders do the rest.
    QTRY_VERIFY(::kill(g_lean, 0) != 0);
}

class TestLeanForkPassedOver : public QObject
{
    Q_OBJECT

private slots:
    void copyTakesNoPictureButTheFirst();
};

void TestLeanForkPassedOver::copyTakesNoPictureButTheFirst()
{
    QVERIFY(g_lean > 0);
    QCOMPARE(g_pool->LoadPicture(g_mislabelled), picture::LoadPicture(g_mislabelled));
    // A JPEG after it is no start-up picture: a full decoder takes it, and
    // the copy goes.
    QCOMPARE(g_pool->LoadPicture(firstPicture()), picture::LoadPicture(firstPicture()));
    QTRY_VERIFY(::kill(g_lean, 0) != 0);
}

int main(int argc, char *argv[])
{
    const bool passedOver = argc > 1 && std::strcmp(argv[1], "--passed-over") == 0;
    if (passedOver) {
        argv[1] = argv[0];
        ++argv;
        --argc;
        const std::filesystem::path copy =
            std::filesystem::temp_directory_path() / ("vellupix-leanfork-" + std::to_string(::getpid()) + ".jpg");
        std::filesystem::copy_file(
            testpictures::testdata(QStringLiteral("gif/gif-test-suite/all-blues.gif")).toStdString(), copy);
        g_mislabelled = QByteArray::fromStdString(copy.native());
    }
    // As the viewer does: before anything has started a thread.
    g_pool = std::make_unique<DecoderPool>();
    g_lean = g_pool->forkLean(passedOver ? g_mislabelled : firstPicture(), &decoder::run);
    QCoreApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    int failed = 0;
    if (passedOver) {
        TestLeanForkPassedOver tc;
        failed = QTest::qExec(&tc, argc, argv);
        std::filesystem::remove(g_mislabelled.toStdString());
    } else {
        TestLeanFork tc;
        failed = QTest::qExec(&tc, argc, argv);
    }
    g_pool.reset();
    return failed;
}

#include "tst_leanfork.moc"
