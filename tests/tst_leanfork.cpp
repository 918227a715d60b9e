// The lean decoder the viewer forks from itself at its start, before any
// thread exists: this test's main forks it the same way, before the test
// application is made.

#include "decoder/decoder.h"
#include "platform/decoderpool.h"
#include "platform/picture.h"
#include "support/testpictures.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

std::unique_ptr<DecoderPool> g_pool;
pid_t g_lean = -1;

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

int main(int argc, char *argv[])
{
    // As the viewer does: before anything has started a thread.
    g_pool = std::make_unique<DecoderPool>();
    g_lean = g_pool->forkLean(firstPicture(), &decoder::run);
    QCoreApplication app(argc, argv);
    TestLeanFork tc;
    QTEST_SET_MAIN_SOURCE_PATH
    const int failed = QTest::qExec(&tc, argc, argv);
    g_pool.reset();
    return failed;
}

#include "tst_leanfork.moc"
