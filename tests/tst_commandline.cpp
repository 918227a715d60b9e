// The command line: what it answers by itself, and the file it hands to Open.

#include "support/framefixture.h"
#include "version.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include "app/commandline.h"
#include "platform/decoderpool.h"
#include "platform/picturecache.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMimeDatabase>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void fileNamedInBytesThatAreNotUtf8Opens();
    void desktopEntryOffersEveryTypeQtReads();
    void otherDecodersWaitForTheFirstPicture();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments");
    QTest::addColumn<QByteArray>("workingDirectory");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    QTest::newRow("no file") << QList<QByteArray>{} << QByteArray("/w") << -1 << QByteArray() << QByteArray()
                             << QByteArray();
    QTest::newRow("relative, not UTF-8") << QList<QByteArray>{"b\xff\xfe.png"} << QByteArray("/home/u/pic\xe9s") << -1
                                         << QByteArray("/home/u/pic\xe9s/b\xff\xfe.png") << QByteArray() << QByteArray();
    QTest::newRow("relative with folders") << QList<QByteArray>{"../x/caf\xe9.jpg"} << QByteArray("/w") << -1
                                           << QByteArray("/w/../x/caf\xe9.jpg") << QByteArray() << QByteArray();
    QTest::newRow("relative from the root") << QList<QByteArray>{"a.png"} << QByteArray("/") << -1
                                            << QByteArray("/a.png") << QByteArray() << QByteArray();
    QTest::newRow("no working directory") << QList<QByteArray>{"a.png"} << QByteArray() << -1 << QByteArray("a.png")
                                          << QByteArray() << QByteArray();
    QTest::newRow("absolute kept") << QList<QByteArray>{"/p/q\x80.bmp"} << QByteArray("/w") << -1
                                   << QByteArray("/p/q\x80.bmp") << QByteArray() << QByteArray();
    QTest::newRow("a name like an option") << QList<QByteArray>{"--", "-v.png"} << QByteArray("/w") << -1
                                           << QByteArray("/w/-v.png") << QByteArray() << QByteArray();
    QTest::newRow("two files") << QList<QByteArray>{"a.png", "b.png"} << QByteArray("/w") << 2 << QByteArray()
                               << QByteArray() << QByteArray("vellupix: only one file can be opened\n");
    QTest::newRow("help-all is not offered")
        << QList<QByteArray>{"--help-all"} << QByteArray("/w") << 2 << QByteArray() << QByteArray()
        << QByteArray("vellupix: Unknown option 'help-all'.\n");
    QTest::newRow("version") << QList<QByteArray>{"--version", "a.png"} << QByteArray("/w") << 0 << QByteArray()
                             << QByteArray("vellupix " VELLUPIX_VERSION "\n") << QByteArray();
}

void TestCommandLine::parse()
{
    QFETCH(QList<QByteArray>, arguments);
    QFETCH(QByteArray, workingDirectory);
    arguments.prepend("vellupix");
    const CommandLine c = CommandLine::parse(arguments, workingDirectory);
    QTEST(c.exitCode, "exitCode");
    QTEST(c.file, "file");
    QTEST(c.out, "out");
    QTEST(c.err, "err");

    // The help offers what the parser takes, and nothing else.
    const CommandLine help = CommandLine::parse({"vellupix", "--help"}, "/w");
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.startsWith("Usage: vellupix [options] [file]\n"));
    QVERIFY(help.out.contains("--version"));
    QVERIFY2(!help.out.contains("help-all"), help.out.constData());
}

void TestCommandLine::fileNamedInBytesThatAreNotUtf8Opens()
{
    QTemporaryDir dir;
    testpictures::write(dir.path(), "a.png");
    const QByteArray name("b\xff.png");
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(testpictures::make(QSize(25, 15), Qt::blue).save(&buffer, "png"));
        FILE *f = std::fopen((QFile::encodeName(dir.path()) + '/' + name).constData(), "wb");
        QVERIFY(f);
        std::fwrite(buffer.data().constData(), 1, size_t(buffer.data().size()), f);
        std::fclose(f);
    }
    const CommandLine c = CommandLine::parse({"vellupix", name}, QFile::encodeName(dir.path()));
    FrameFixture f;
    f.frame->Open_File(c.file);
    QVERIFY2(f.dialogs.boxes.isEmpty(), qPrintable(f.lastBox().prompt));
    QCOMPARE(f.form1().Picture1().Picture().size(), QSize(25, 15));
    QCOMPARE(f.panel(3), QStringLiteral("2 of  2 Pictures"));
    f.frame->Go_to_First_Click(); // the list and the name agree: stepping works on
    QCOMPARE(f.panel(3), QStringLiteral("1 of  2 Pictures"));
    QVERIFY(f.dialogs.boxes.isEmpty());
    // QTemporaryDir cannot remove what it cannot name.
    QCOMPARE(std::remove((QFile::encodeName(dir.path()) + '/' + name).constData()), 0);
}

// A file manager hands the viewer only the types its entry names.
void TestCommandLine::desktopEntryOffersEveryTypeQtReads()
{
    QFile entry(QStringLiteral("desktop/org.vellupix.Vellupix.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList offered;
    while (!entry.atEnd()) {
        const QString line = QString::fromUtf8(entry.readLine()).trimmed();
        if (line.startsWith(u"MimeType="))
            offered = line.mid(9).split(u';', Qt::SkipEmptyParts);
    }
    QVERIFY(offered.contains(u"image/jpeg"));
    QCOMPARE(QSet<QString>(offered.begin(), offered.end()).size(), offered.size());
    const QMimeDatabase db;
    for (const QByteArray &name : QImageReader::supportedMimeTypes()) {
        // By the name file managers use; a plugin's name that the database
        // does not know (Qt's image/x-mng is video/x-mng there) is skipped.
        const QMimeType type = db.mimeTypeForName(QString::fromLatin1(name));
        if (type.isValid())
            QVERIFY2(offered.contains(type.name()), qPrintable(type.name()));
    }
}

// Each decoder's start takes a core for tens of milliseconds: started with a
// file, the viewer starts the rest once that picture is painted, even when it
// was decoded before the frame was.
void TestCommandLine::otherDecodersWaitForTheFirstPicture()
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(testpictures::write(dir.path(), "a.png", QSize(64, 48)));
    Decoding decoding;
    decoding.cache->prefetch({path});
    decoding.cache->waitForReadAhead();
    ScriptedDialogs dialogs;
    MDIForm1 frame(dialogs, std::move(decoding));
    const DecoderPool &pool = frame.decoderPool();
    int startedAtPicture = -1;
    struct PaintWatch : QObject
    {
        std::function<void()> painted;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                painted();
            return false;
        }
    } watch;
    watch.painted = [&] {
        if (startedAtPicture < 0 && !frame.form1().Picture1().Picture().isNull())
            startedAtPicture = pool.started();
    };
    frame.form1().window().installEventFilter(&watch);
    frame.Show(); // as at start-up: the open comes before the frame's first paint
    frame.Open_File(path);
    QVERIFY2(dialogs.boxes.isEmpty(), qPrintable(dialogs.boxes.value(0).prompt));
    QTRY_VERIFY(startedAtPicture >= 0);
    QCOMPARE(startedAtPicture, 1);
    QTRY_VERIFY(pool.started() > 1);
}

VELLUPIX_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
