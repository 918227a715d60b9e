// Decoding in processes of their own: the answers are the in-process
// loader's, a decoder that crashes, hangs or swells costs one error report,
// a confined decoder can open nothing, a stalled read, listing or save
// neither freezes the window nor holds up Exit, no failure of a decode
// escapes its report, and no decoder outlives its viewer.

#include "platform/picturecache.h"
#include "platform/decoderpool.h"
#include "platform/filelist.h"
#include "platform/formats/formats.h"
#include "platform/picture.h"
#include "platform/runtimeerror.h"
#include "support/framefixture.h"
#include "support/testpictures.h"

#include <QApplication>
#include <QColorSpace>
#include <QColorTransform>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <signal.h>

using namespace std::chrono_literals;

namespace {

struct Outcome
{
    QImage image;
    QString error;
};

template <typename Load>
Outcome outcome(Load &&load)
{
    try {
        return {load(), QString()};
    } catch (const RuntimeError &e) {
        return {QImage(), e.description()};
    }
}

// Colour spaces that show every colour alike: one that went through an ICC
// profile may come back under another name (a gamma of 1 as linear).
bool sameColours(const QColorSpace &a, const QColorSpace &b)
{
    if (a.isValid() != b.isValid())
        return false;
    if (!a.isValid() || a == b)
        return true;
    const QColorTransform ta = a.transformationToColorSpace(QColorSpace::SRgb);
    const QColorTransform tb = b.transformationToColorSpace(QColorSpace::SRgb);
    for (QRgb c : {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(200, 30, 90), qRgb(12, 180, 60), qRgb(64, 64, 250)}) {
        const QRgb ma = ta.map(c), mb = tb.map(c);
        if (qAbs(qRed(ma) - qRed(mb)) > 1 || qAbs(qGreen(ma) - qGreen(mb)) > 1 || qAbs(qBlue(ma) - qBlue(mb)) > 1)
            return false;
    }
    return true;
}

// Pixels as they show: what a fully transparent pixel holds besides its
// alpha is left to chance by some of Qt's decoders.
bool samePixels(QImage a, QImage b)
{
    a.setColorSpace(QColorSpace()); // compared on their own
    b.setColorSpace(QColorSpace());
    if (a.hasAlphaChannel()) {
        a.convertTo(QImage::Format_RGBA64_Premultiplied);
        b.convertTo(QImage::Format_RGBA64_Premultiplied);
    }
    return a == b;
}

// The tests' decoder, quick to give up.
DecoderPool::Settings misbehaving()
{
    DecoderPool::Settings settings = DecoderPool::defaultSettings();
    settings.program = QStringLiteral(VELLUPIX_MISBEHAVING_DECODER);
    settings.processes = 1; // so that the next picture needs the replacement
    settings.deadline = 3s;
    settings.addressSpaceBytes = std::int64_t(400) << 20; // some 170 MB above what it takes idle
    return settings;
}

bool kernelFiltersSystemCalls()
{
    QFile status(QStringLiteral("/proc/self/status"));
    return status.open(QIODevice::ReadOnly) && status.readAll().contains("\nSeccomp:");
}

// Holds every open of a file named "b stalled.png", every save that would
// replace one, and every listing of a folder named "stalled", until
// released, as a file system that stopped answering would. Ten seconds at
// most, so that a read on the window thread fails a test, not hangs it.
std::atomic<bool> g_stalling{false};

struct Stall
{
    Stall() { g_stalling = true; }
    ~Stall() { g_stalling = false; }
    // Installed once: a hook is not to be replaced while a read runs it.
    static void install()
    {
        picture::setBeforeOpenForTesting([](const QByteArray &path) { hold(path.endsWith("/b stalled.png")); });
        FileListBox::setBeforeReadingForTesting([](const QString &path) { hold(path.endsWith(QStringLiteral("/stalled"))); });
    }
    static void hold(bool stalled)
    {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (stalled && g_stalling && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(5ms);
    }
};

// Counts the paints of a widget that something asks to repaint all along,
// as an uncovered window would be.
struct Repaints : QObject
{
    int paints = 0;
    QTimer dirty;
    explicit Repaints(QWidget &widget)
    {
        widget.installEventFilter(this);
        QObject::connect(&dirty, &QTimer::timeout, &widget, [&widget] { widget.update(); });
        dirty.start(20);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// The processes whose parent is pid.
QList<pid_t> childrenOf(pid_t pid)
{
    QList<pid_t> children;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t candidate = pid_t(entry.toInt(&number));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray fields = stat.readAll();
        const QList<QByteArray> after = fields.mid(fields.lastIndexOf(')') + 2).split(' ');
        if (after.size() > 1 && after[1].toInt() == pid)
            children << candidate;
    }
    return children;
}

// Gone, or dead and waiting only to be reaped.
bool ended(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray fields = stat.readAll();
    return fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z";
}

// A folder of a.png, then the given file, then c.png.
struct Folder
{
    QTemporaryDir dir;
    QString a, middle, c;
    Folder(const QString &middleName, const QByteArray &content)
    {
        a = testpictures::write(dir.path(), QStringLiteral("a.png"), QSize(40, 30), Qt::red);
        middle = dir.filePath(middleName);
        if (content.isEmpty())
            testpictures::write(dir.path(), middleName, QSize(30, 20), Qt::green);
        else
            testpictures::writeText(middle, content);
        c = testpictures::write(dir.path(), QStringLiteral("c.png"), QSize(20, 10), Qt::blue);
    }
};

} // namespace

class TestDecoders : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { DecoderPool::setDefaultSettingsForTesting(std::nullopt); }
    void answersAsTheLoaderDoes_data();
    void answersAsTheLoaderDoes();
    void startsWithAJpegThenReadsEveryFormat();
    void droppedPicturesAreUnmapped();
    void indexedPicturesAreTheViewersOwn();
    void misbehavingDecoderCostsOneReport_data();
    void misbehavingDecoderCostsOneReport();
    void confinedDecoderOpensNothing();
    void stalledReadKeepsTheWindowAnswering();
    void exitEndsTheProcessDespiteAStall();
    void anyFailureOfADecodeIsReported();
    void stalledListingKeepsTheWindowAnswering_data();
    void stalledListingKeepsTheWindowAnswering();
    void stalledSaveCancelledLeavesTheTarget();
    void slideShowTicksAreDroppedWhileACommandWaits();
    void decodersDieWithTheViewer();
};

void TestDecoders::answersAsTheLoaderDoes_data()
{
    QTest::addColumn<bool>("lean");
    QTest::newRow("every file, full decoder") << false;
    // What the viewer decodes the JPEG or PNG it starts with in.
    QTest::newRow("every JPEG and PNG, lean decoder") << true;
}

void TestDecoders::answersAsTheLoaderDoes()
{
    QFETCH(bool, lean);
    const QString root = testpictures::testdata(QString());
    if (!QFile::exists(root))
        QSKIP("the shared test data is not beside the repository");
    DecoderPool::Settings settings = DecoderPool::defaultSettings();
    if (lean)
        settings.program = settings.leanProgram;
    DecoderPool pool(settings);
    int compared = 0, pictures = 0, unrepeatable = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QByteArray path = QFile::encodeName(it.next());
        QFile file(QFile::decodeName(path));
        const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(4) : QByteArray();
        if (lean && !head.startsWith("\xFF\xD8\xFF") && head != "\x89PNG")
            continue;
        const Outcome here = outcome([&] { return picture::LoadPicture(path); });
        const Outcome there = outcome([&] { return pool.LoadPicture(path); });
        const QByteArray what = path + ": " + there.error.toUtf8() + " / " + here.error.toUtf8();
        QVERIFY2(there.error == here.error, what.constData());
        QVERIFY2(there.image.format() == here.image.format(), what.constData());
        // A damaged file can leave pixels the decoder never wrote, whatever
        // the heap held before, and Qt decodes a few good ones differently
        // from one load to the next even in-process: those are compared by
        // size only.
        const bool damaged = !path.contains("/good/")
            || !samePixels(here.image, outcome([&] { return picture::LoadPicture(path); }).image);
        QVERIFY2(there.image.size() == here.image.size(), what.constData());
        QVERIFY2(damaged || samePixels(there.image, here.image), what.constData());
        unrepeatable += damaged && !samePixels(there.image, here.image);
        QVERIFY2(sameColours(there.image.colorSpace(), here.image.colorSpace()), what.constData());
        QVERIFY2(there.image.dotsPerMeterX() == here.image.dotsPerMeterX(), what.constData());
        QVERIFY2(there.image.textKeys() == here.image.textKeys(), what.constData());
        ++compared;
        pictures += !here.image.isNull();
    }
    qInfo("%d files compared, %d of them pictures, %d damaged ones with other pixels", compared, pictures,
          unrepeatable);
}

void TestDecoders::startsWithAJpegThenReadsEveryFormat()
{
    // One decoder: the lean one the viewer starts with has to make way
    // for a full one before the next picture.
    DecoderPool::Settings settings = DecoderPool::defaultSettings();
    settings.processes = 1;
    DecoderPool pool(settings);
    QTemporaryDir dir;
    const QString jpeg = testpictures::write(dir.path(), QStringLiteral("a.jpg"), QSize(64, 48), Qt::blue, "jpeg");
    QCOMPARE(pool.LoadPicture(QFile::encodeName(jpeg)).size(), QSize(64, 48));
    const QString webp = testpictures::write(dir.path(), QStringLiteral("b.webp"), QSize(40, 30), Qt::red, "webp");
    QCOMPARE(pool.LoadPicture(QFile::encodeName(webp)).size(), QSize(40, 30));
}

int mappedPictures()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) ? int(maps.readAll().count("memfd:vellupix-picture")) : -1;
}

// The inode of the memfd a picture's pixels are mapped from.
QByteArray pictureInode(const QImage &picture)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return QByteArray();
    const auto at = reinterpret_cast<quintptr>(picture.constBits());
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        const QList<QByteArray> range = fields.value(0).split('-');
        if (fields.size() >= 6 && fields[5].startsWith("/memfd:vellupix-picture") && range.size() == 2
            && range[0].toULongLong(nullptr, 16) <= at && at < range[1].toULongLong(nullptr, 16))
            return fields[4];
    }
    return QByteArray();
}

int heldPictureDescriptors()
{
    int held = 0;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        held += fd.symLinkTarget().contains(QStringLiteral("memfd:vellupix-picture"));
    return held;
}

// Dropped pictures are unmapped by a thread of the pool's, not at once. The
// memory of the last two is written again by the decoder of a next picture
// about its size, and let go two seconds after the last drop.
void TestDecoders::droppedPicturesAreUnmapped()
{
    DecoderPool pool;
    QTemporaryDir dir;
    // JPEGs: decoded straight into the memory the decoder answers with.
    const QString path = testpictures::write(dir.path(), QStringLiteral("a.jpg"), QSize(640, 480), Qt::red, "jpeg");
    const QString same = testpictures::write(dir.path(), QStringLiteral("b.jpg"), QSize(640, 480), Qt::blue, "jpeg");
    const QString smaller = testpictures::write(dir.path(), QStringLiteral("c.jpg"), QSize(300, 200), Qt::green, "jpeg");
    const QString larger = testpictures::write(dir.path(), QStringLiteral("d.jpg"), QSize(900, 700), Qt::cyan, "jpeg");
    // No test keeps a picture; what earlier ones dropped may still be going.
    QTRY_COMPARE(mappedPictures(), 0);
    QList<QByteArray> dropped;
    {
        const QImage first = pool.LoadPicture(QFile::encodeName(path));
        const QImage second = pool.LoadPicture(QFile::encodeName(path));
        QCOMPARE(mappedPictures(), 2);
        dropped = {pictureInode(first), pictureInode(second)};
        QVERIFY(!dropped.contains(QByteArray()));
    }
    QTRY_COMPARE(mappedPictures(), 0);
    // Each takes the last spare, kept while the others are read: the
    // picture too small for it leaves it unused, and none is left for the
    // last.
    QList<QImage> kept;
    for (const QString &next : {smaller, same, larger}) {
        kept.append(pool.LoadPicture(QFile::encodeName(next)));
        QCOMPARE(kept.last(), picture::LoadPicture(QFile::encodeName(next)));
        QCOMPARE(dropped.contains(pictureInode(kept.last())), next == same);
    }
    // Dropped in order, the last leaves the latest spare, where a PNG of
    // its size is read into.
    const QByteArray largest = pictureInode(kept.last());
    kept.clear();
    QTRY_COMPARE(mappedPictures(), 0);
    const QString png = testpictures::write(dir.path(), QStringLiteral("e.png"), QSize(900, 700), Qt::magenta);
    kept.append(pool.LoadPicture(QFile::encodeName(png)));
    QCOMPARE(kept.last(), picture::LoadPicture(QFile::encodeName(png)));
    QCOMPARE(pictureInode(kept.last()), largest);
    kept.clear();
    QTRY_COMPARE_WITH_TIMEOUT(heldPictureDescriptors(), 0, 5000);
}

// A decoder may write to its answer's pixels afterwards (one that was taken
// over could): an index past the colour table would then be read beyond it.
void TestDecoders::indexedPicturesAreTheViewersOwn()
{
    DecoderPool pool(misbehaving());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.png"));
    testpictures::writeText(path, "VELLUPIX-TEST rewrite");
    const QImage picture = pool.LoadPicture(QFile::encodeName(path));
    QCOMPARE(picture.format(), QImage::Format_Indexed8);
    QTest::qWait(150);
    // Whenever the copy was taken, its table must cover what it holds.
    int highest = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            highest = std::max(highest, int(picture.constScanLine(y)[x]));
    QVERIFY2(highest < picture.colorCount(), qPrintable(QStringLiteral("index %1 of %2 colours").arg(highest).arg(picture.colorCount())));
}

void TestDecoders::misbehavingDecoderCostsOneReport_data()
{
    QTest::addColumn<QByteArray>("marker");
    QTest::addColumn<QString>("description");
    QTest::newRow("crash") << QByteArray("VELLUPIX-TEST crash") << QStringLiteral("The decoder stopped on \u201c%1\u201d (segmentation fault).");
    QTest::newRow("hang") << QByteArray("VELLUPIX-TEST hang") << QStringLiteral("The picture \u201c%1\u201d took too long to decode.");
    QTest::newRow("swell") << QByteArray("VELLUPIX-TEST swell") << QStringLiteral("There is not enough memory to decode \u201c%1\u201d.");
}

void TestDecoders::misbehavingDecoderCostsOneReport()
{
    QFETCH(QByteArray, marker);
    QFETCH(QString, description);
#if defined(__SANITIZE_ADDRESS__)
    if (marker.endsWith("swell"))
        QSKIP("AddressSanitizer's shadow memory leaves no room for an address-space limit");
#endif
    DecoderPool::setDefaultSettingsForTesting(misbehaving());
    Folder folder(QStringLiteral("b.png"), marker);
    FrameFixture f;
    f.open(folder.a);
    QElapsedTimer clock;
    clock.start();
    f.frame->Next_picture_Click(); // onto b, read ahead (or being read) by now
    qInfo("%s: reported %lld ms after the step", marker.constData(), clock.elapsed());
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.lastBox().prompt, QStringLiteral("Error:") + description.arg(folder.middle));

    f.frame->Next_picture_Click();
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.form1().Picture1().Picture(), picture::LoadPicture(QFile::encodeName(folder.c)));
    // And the replacement decodes as well as its predecessor did.
    f.frame->Go_to_First_Click();
    QCOMPARE(f.form1().Picture1().Picture(), picture::LoadPicture(QFile::encodeName(folder.a)));
}

void TestDecoders::confinedDecoderOpensNothing()
{
    if (!kernelFiltersSystemCalls())
        QSKIP("this kernel has no seccomp");
    QTemporaryDir dir;
    const QString escape = dir.filePath(QStringLiteral("escape.jpg"));
    testpictures::writeText(escape, "VELLUPIX-TEST escape");
    DecoderPool pool(misbehaving());
    const QString error = outcome([&] { return pool.LoadPicture(QFile::encodeName(escape)); }).error;
    QCOMPARE(error, QStringLiteral("open refused (Operation not permitted); socket refused (Operation not permitted); "
                                   "fork refused (Operation not permitted); mprotect exec refused (Operation not permitted)"));
}

void TestDecoders::stalledReadKeepsTheWindowAnswering()
{
    Folder folder(QStringLiteral("b stalled.png"), QByteArray());
    FrameFixture f;
    Stall stall; // let go before the frame, which waits for its reads
    f.open(folder.a);
    Repaints repaints(f.form1().window());

    int paintsBeforeBox = -1;
    bool busyPointer = false;
    qint64 boxAfterMs = 0;
    QElapsedTimer clock;
    f.dialogs.cancelWaiting = 1;
    f.dialogs.whileWaiting = [&] {
        paintsBeforeBox = repaints.paints;
        busyPointer = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
        boxAfterMs = clock.elapsed();
    };
    clock.start();
    f.frame->Next_picture_Click();
    qInfo("Reading box after %lld ms, %d repaints meanwhile; report after %lld ms", boxAfterMs, paintsBeforeBox,
          clock.elapsed());
    QCOMPARE(f.dialogs.waitingBoxes, QStringList{QStringLiteral("Reading \u201c%1\u201d\u2026").arg(folder.middle)});
    QVERIFY(paintsBeforeBox > 0);
    QVERIFY(busyPointer);
    QCOMPARE(f.lastBox().prompt, QStringLiteral("Error:Reading \u201c%1\u201d was cancelled.").arg(folder.middle));
    QVERIFY(!QApplication::overrideCursor());

    // The next picture shows though the stalled read has not ended.
    f.frame->Next_picture_Click();
    QCOMPARE(f.form1().Picture1().Picture(), picture::LoadPicture(QFile::encodeName(folder.c)));
}

// In a process of its own: a read stalls for good, the user cancels, then
// exits. The parent times the end.
static int exitWhileStalled(int argc, char **argv)
{
    QApplication app(argc, argv);
    Stall stall;
    Folder folder(QStringLiteral("b stalled.png"), QByteArray());
    FrameFixture f;
    f.dialogs.cancelWaiting = 1;
    QTimer::singleShot(0, [&] {
        f.open(folder.a);
        f.frame->Next_picture_Click();
        std::printf("cancelled: %s\n", qPrintable(f.lastBox().prompt));
        f.dialogs.answers = {vb::vbYes};
        std::printf("exit\n");
        std::fflush(stdout);
        f.frame->Exit_Click();
    });
    f.frame->endProcess(app.exec());
}

// What a child process of the test has said by the time it says marker.
static QByteArray readUntil(QProcess &child, const QByteArray &marker)
{
    QByteArray said;
    while (!said.contains(marker) && child.waitForReadyRead(20000))
        said += child.readAllStandardOutput();
    return said;
}

void TestDecoders::exitEndsTheProcessDespiteAStall()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--exit-while-stalled")});
    QVERIFY(child.waitForStarted());
    const QByteArray said = readUntil(child, "exit\n");
    QVERIFY2(said.contains("exit\n"), said.constData());
    QElapsedTimer clock;
    clock.start();
    const bool ended = child.state() == QProcess::NotRunning || child.waitForFinished(5000);
    qInfo("the process ended %lld ms after Exit", clock.elapsed());
    if (!ended)
        child.kill();
    QVERIFY(ended);
    QVERIFY2(said.contains("cancelled: Error:Reading"), said.constData());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
}

void TestDecoders::anyFailureOfADecodeIsReported()
{
    // Read ahead by a worker and read on the spot: neither may abort the
    // process nor leave its entry waiting for good.
    PictureCache cache(std::int64_t(1) << 26, 2, [](const QByteArray &path, picture::FileStamp *stamp) -> QImage {
        *stamp = picture::stampOf(path);
        if (path.endsWith("a.png"))
            throw std::bad_alloc();
        throw 42;
    });
    Folder folder(QStringLiteral("b.png"), QByteArray());
    const QByteArray a = QFile::encodeName(folder.a), b = QFile::encodeName(folder.middle);
    cache.prefetch({a, b});
    cache.waitForReadAhead();
    QCOMPARE(outcome([&] { return cache.LoadPicture(a); }).error,
             QStringLiteral("There is not enough memory to load \u201c%1\u201d.").arg(folder.a));
    QCOMPARE(outcome([&] { return cache.LoadPicture(b); }).error,
             QStringLiteral("The picture \u201c%1\u201d could not be loaded.").arg(folder.middle));
    cache.clear();
    QCOMPARE(outcome([&] { return cache.LoadPicture(b); }).error,
             QStringLiteral("The picture \u201c%1\u201d could not be loaded.").arg(folder.middle));
}

void TestDecoders::stalledListingKeepsTheWindowAnswering_data()
{
    QTest::addColumn<bool>("open");
    QTest::newRow("Open's folder") << true;
    // The picture window lists the working folder on the first step.
    QTest::newRow("working folder, before any Open") << false;
}

void TestDecoders::stalledListingKeepsTheWindowAnswering()
{
    QFETCH(bool, open);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("stalled"));
    QVERIFY(QDir().mkdir(folder));
    const QString a = testpictures::write(folder, QStringLiteral("a.png"), QSize(40, 30), Qt::red);
    testpictures::write(folder, QStringLiteral("b.png"), QSize(30, 20), Qt::green);
    FrameFixture f;
    Stall stall;
    Repaints repaints(*f.frame);
    int paintsBeforeBox = -1;
    QSize shownWhileWaiting;
    f.dialogs.cancelWaiting = 1;
    f.dialogs.whileWaiting = [&] {
        paintsBeforeBox = repaints.paints;
        shownWhileWaiting = f.form1().Picture1().Picture().size();
    };
    if (open) {
        f.open(a);
    } else {
        QDir::setCurrent(folder);
        f.frame->Next_picture_Click();
    }
    QCOMPARE(f.dialogs.waitingBoxes, QStringList{QStringLiteral("Reading \u201c%1\u201d\u2026").arg(folder)});
    QVERIFY(paintsBeforeBox > 0);
    // Opened, the picture does not wait for its folder's listing.
    if (open)
        QCOMPARE(shownWhileWaiting, QSize(40, 30));
    QCOMPARE(f.lastBox().prompt, QStringLiteral("%1Reading \u201c%2\u201d was cancelled.")
                                     .arg(open ? QStringLiteral("Error!") : QStringLiteral("Error:"), folder));
}

void TestDecoders::stalledSaveCancelledLeavesTheTarget()
{
    Folder folder(QStringLiteral("b.png"), QByteArray());
    const QString target = folder.dir.filePath(QStringLiteral("b stalled.png"));
    testpictures::writeText(target, "kept");
    const QStringList before = QDir(folder.dir.path()).entryList(QDir::Files);
    FrameFixture f;
    f.open(folder.a);
    {
        Stall stall;
        f.dialogs.files.append(target);
        f.dialogs.cancelWaiting = 1;
        f.frame->Save_Click();
        QCOMPARE(f.dialogs.waitingBoxes, QStringList{QStringLiteral("Writing \u201c%1\u201d\u2026").arg(target)});
        QCOMPARE(f.lastBox().prompt, QStringLiteral("Error Ocurred:Writing \u201c%1\u201d was cancelled.").arg(target));
    }
    // The write, let go, finds itself given up on.
    const auto contents = [&] {
        QFile file(target);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QVERIFY(!QTest::qWaitFor([&] { return contents() != "kept"; }, 500));
    QCOMPARE(QDir(folder.dir.path()).entryList(QDir::Files), before);
}

void TestDecoders::slideShowTicksAreDroppedWhileACommandWaits()
{
    Folder folder(QStringLiteral("b stalled.png"), QByteArray());
    FrameFixture f;
    // Before the open, whose reading ahead may reach the stalled file at once.
    Stall stall;
    f.open(folder.a);
    f.form1().Timer1().setInterval(20); // some fifty ticks fall before the box
    f.frame->Auto_Play_Click();
    int indexAtBox = -1;
    f.dialogs.cancelWaiting = 1;
    f.dialogs.whileWaiting = [&] {
        indexAtBox = f.module1().Index;
        f.frame->Stop_AutoPlay_Click();
    };
    f.frame->Next_picture_Click();
    // A tick let in would have stepped on, and round to the stalled file again.
    QCOMPARE(f.dialogs.waitingBoxes.size(), 1);
    QCOMPARE(indexAtBox, 1);
    QCoreApplication::processEvents(); // nothing was kept for after the wait
    QCOMPARE(f.module1().Index, 1);
    QCOMPARE(f.dialogs.boxes.size(), 1);
}

// In a process of its own: a decoder started from a thread that has ended
// is kept, then hangs on a picture. The parent kills this process.
static int holdHangingDecoder(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    DecoderPool::Settings settings = misbehaving();
    settings.deadline = 60s;
    DecoderPool pool(settings);
    std::thread([&] { pool.start(); }).join();
    QTemporaryDir dir;
    const QString hang = dir.filePath(QStringLiteral("hang.png"));
    testpictures::writeText(hang, "VELLUPIX-TEST hang");
    std::thread([&] {
        const Outcome o = outcome([&] { return pool.LoadPicture(QFile::encodeName(hang)); });
        std::printf("answered: %s\n", qPrintable(o.error));
        std::fflush(stdout);
    }).detach();
    std::this_thread::sleep_for(1s); // for the request to reach the decoder
    std::printf("started %d\nready\n", pool.started());
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(1s);
}

void TestDecoders::decodersDieWithTheViewer()
{
    QProcess viewer;
    viewer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-hanging-decoder")});
    QVERIFY(viewer.waitForStarted());
    const QByteArray said = readUntil(viewer, "ready\n");
    const QList<pid_t> decoders = childrenOf(pid_t(viewer.processId()));
    ::kill(pid_t(viewer.processId()), SIGKILL);
    viewer.waitForFinished();
    QElapsedTimer clock;
    clock.start();
    const bool gone = QTest::qWaitFor([&] { return std::all_of(decoders.begin(), decoders.end(), ended); }, 1000);
    qInfo("the decoder ended %lld ms after the viewer", clock.elapsed());
    for (pid_t decoder : decoders)
        ::kill(decoder, SIGKILL);
    QVERIFY2(said.contains("started 1\nready\n"), said.constData());
    QCOMPARE(decoders.size(), 1);
    QVERIFY(gone);
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "1");
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
    Stall::install();
    if (argc == 2 && QByteArray(argv[1]) == "--exit-while-stalled")
        return exitWhileStalled(argc, argv);
    if (argc == 2 && QByteArray(argv[1]) == "--hold-hanging-decoder")
        return holdHangingDecoder(argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_DontUseNativeDialogs);
    formats::registerPlugins();
    TestDecoders tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_decoders.moc"
