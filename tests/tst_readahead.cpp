// Reading ahead: pictures decoded by workers are the ones a load on the spot
// would give, failures surface only when stepped onto, changed files are read
// again, and the budget holds.

#include "platform/picturecache.h"
#include "platform/runtimeerror.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <semaphore>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <zlib.h>
#include <sys/stat.h>

using testpictures::write;

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

// What the platform's loader says of a file: its picture, or its error.
struct Outcome
{
    QImage image;
    QString error;
};

Outcome loadWith(const std::function<QImage()> &load)
{
    try {
        return {load(), QString()};
    } catch (const RuntimeError &e) {
        return {QImage(), e.description()};
    }
}

// A decoder that counts its calls per file and can hold one file's decoding
// until the test lets it go.
class GatedDecoder
{
public:
    QByteArray held;
    std::binary_semaphore entered{0};
    std::binary_semaphore release{0};

    PictureCache::Decoder decoder()
    {
        return [this](const QByteArray &path, picture::FileStamp *stamp) {
            {
                std::lock_guard lock(m_mutex);
                ++m_calls[path];
            }
            ++started;
            if (path == held) {
                entered.release();
                release.acquire();
            }
            QImage image = picture::LoadPicture(path, stamp);
            ++finished;
            return image;
        };
    }
    int calls(const QByteArray &path)
    {
        std::lock_guard lock(m_mutex);
        return m_calls[path];
    }

    std::atomic<int> started{0};
    std::atomic<int> finished{0};

private:
    std::mutex m_mutex;
    std::map<QByteArray, int> m_calls;
};

struct Pictures
{
    QTemporaryDir dir;
    QList<QByteArray> paths;
    explicit Pictures(int n, QSize size = QSize(64, 48))
    {
        for (int i = 0; i < n; ++i)
            paths << native(write(dir.path(), QStringLiteral("p%1.png").arg(i + 1), size, QColor::fromHsv(i * 40, 200, 200)));
    }
};

} // namespace

class TestReadAhead : public QObject
{
    Q_OBJECT
private slots:
    void waitsForTheWorkerInsteadOfDecodingTwice();
    void takesOverQueuedWork();
    void dropsWorkNoLongerWanted();
    void failuresAreTheLoadersAndComeWhenAsked_data();
    void failuresAreTheLoadersAndComeWhenAsked();
    void changedFilesAreReadAgain_data();
    void changedFilesAreReadAgain();
    void keepsWithinTheBudget();
    void keepsOnlyAFewBehind();
    void destructionWaitsForWorkers();
    void giantPicturesGetReducedCopiesWithinTheBudget();

};

void TestReadAhead::giantPicturesGetReducedCopiesWithinTheBudget()
{
    Pictures pictures(2);
    const QByteArray giantPath = pictures.paths[0];
    QImage giant(4096, 4096, QImage::Format_RGB32);
    giant.fill(Qt::darkCyan);
    const auto decoder = [&](const QByteArray &path, picture::FileStamp *stamp) {
        QImage image = picture::LoadPicture(path, stamp);
        return path == giantPath ? giant : image;
    };
    const std::int64_t giantBytes = giant.sizeInBytes();
    const std::int64_t copyBytes = ReducedCopies::bytesFor(giant);
    QVERIFY(copyBytes > giantBytes / 4 && copyBytes < giantBytes / 2);

    PictureCache roomy(4 * giantBytes, 2, decoder);
    roomy.LoadPicture(giantPath);
    roomy.waitForReadAhead(); // the copies are made by then
    const auto copies = roomy.reducedCopies(giantPath);
    QVERIFY(copies);
    QCOMPARE(copies->copies().front().size(), QSize(2048, 2048));
    QCOMPARE(copies->copies().front().pixel(7, 9), giant.pixel(0, 0));
    QCOMPARE(copies->bytes(), copyBytes);
    QCOMPARE(roomy.cachedBytes(), giantBytes + copyBytes); // counted against the budget
    roomy.LoadPicture(pictures.paths[1]);
    QVERIFY(!roomy.reducedCopies(pictures.paths[1])); // small: painted as before

    // Room for the picture but not for its copies: none are made, and it is
    // painted from itself.
    PictureCache tight(giantBytes + copyBytes - 1, 2, decoder);
    tight.LoadPicture(giantPath);
    tight.waitForReadAhead();
    QVERIFY(tight.reducedCopies(giantPath));
    QVERIFY(tight.reducedCopies(giantPath)->copies().empty());
    QCOMPARE(tight.cachedBytes(), giantBytes);

    // Only the window's picture gets them: one read ahead may be stepped over.
    PictureCache ahead(4 * giantBytes, 2, decoder);
    ahead.prefetch({giantPath});
    ahead.waitForReadAhead();
    QCOMPARE(ahead.cachedBytes(), giantBytes);
    ahead.LoadPicture(giantPath);
    ahead.waitForReadAhead();
    QCOMPARE(ahead.cachedBytes(), giantBytes + copyBytes);

    // Stepped past before its copies are made: they are not, nor counted;
    // stepping back makes them.
    Pictures third(1);
    GatedDecoder gate;
    gate.held = third.paths[0];
    const PictureCache::Decoder gated = gate.decoder();
    PictureCache busy(4 * giantBytes, 1, [&](const QByteArray &path, picture::FileStamp *stamp) {
        QImage image = gated(path, stamp);
        return path == giantPath ? giant : image;
    });
    busy.prefetch({gate.held});
    gate.entered.acquire(); // the only worker is taken
    busy.LoadPicture(giantPath);
    const QImage small = busy.LoadPicture(pictures.paths[1]);
    gate.release.release();
    busy.waitForReadAhead();
    QVERIFY(busy.reducedCopies(giantPath)->copies().empty());
    const qsizetype heldBytes = busy.LoadPicture(gate.held).sizeInBytes();
    QCOMPARE(busy.cachedBytes(), giantBytes + small.sizeInBytes() + heldBytes);
    busy.LoadPicture(giantPath);
    busy.waitForReadAhead();
    QCOMPARE(busy.reducedCopies(giantPath)->bytes(), copyBytes);
}

void TestReadAhead::waitsForTheWorkerInsteadOfDecodingTwice()
{
    Pictures pictures(1);
    const QByteArray path = pictures.paths[0];
    GatedDecoder gate;
    gate.held = path;
    PictureCache cache(std::int64_t(1) << 26, 2, gate.decoder());

    cache.prefetch({path});
    gate.entered.acquire(); // the worker is inside the decoder
    // Released only once the window thread is seen waiting for that job.
    std::thread releaser([&] {
        while (cache.counters().waited == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        gate.release.release();
    });
    const QImage image = cache.LoadPicture(path);
    releaser.join();

    QCOMPARE(gate.calls(path), 1);
    QCOMPARE(cache.counters().waited, 1);
    QCOMPARE(cache.counters().decodedHere, 0);
    QCOMPARE(image, picture::LoadPicture(path));
}

void TestReadAhead::takesOverQueuedWork()
{
    Pictures pictures(2);
    GatedDecoder gate;
    gate.held = pictures.paths[0];
    PictureCache cache(std::int64_t(1) << 26, 1, gate.decoder());

    cache.prefetch({pictures.paths[0], pictures.paths[1]});
    gate.entered.acquire(); // the only worker is busy with the first
    const QImage second = cache.LoadPicture(pictures.paths[1]);
    QCOMPARE(cache.counters().decodedHere, 1);
    gate.release.release();
    cache.waitForReadAhead();

    QCOMPARE(gate.calls(pictures.paths[1]), 1); // the worker left it alone
    QCOMPARE(second, picture::LoadPicture(pictures.paths[1]));
    QVERIFY(cache.holds(pictures.paths[0]));
}

void TestReadAhead::dropsWorkNoLongerWanted()
{
    Pictures pictures(3);
    GatedDecoder gate;
    gate.held = pictures.paths[0];
    PictureCache cache(std::int64_t(1) << 26, 1, gate.decoder());

    cache.prefetch({pictures.paths[0], pictures.paths[1]});
    gate.entered.acquire();
    cache.prefetch({pictures.paths[2]}); // the user turned round
    gate.release.release();
    cache.waitForReadAhead();

    QCOMPARE(gate.calls(pictures.paths[1]), 0);
    QVERIFY(cache.holds(pictures.paths[0])); // finished work is kept
    QVERIFY(cache.holds(pictures.paths[2]));
    QVERIFY(!cache.holds(pictures.paths[1]));
}

void TestReadAhead::failuresAreTheLoadersAndComeWhenAsked_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("says");
    QTest::newRow("text") << QByteArray("not a picture at all\n") << "not a picture";
    QTest::newRow("empty") << QByteArray() << "empty";
    // A PNG header claiming 50000 x 50000 pixels, refused from the header.
    QImage small(8, 8, QImage::Format_RGB32);
    small.fill(Qt::blue);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        small.save(&buffer, "png");
    }
    const auto be32 = [](quint32 v) {
        const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(bytes, 4);
    };
    png.replace(16, 8, be32(50000) + be32(50000));
    png.replace(29, 4, be32(quint32(crc32(0, reinterpret_cast<const Bytef *>(png.constData() + 12), 17))));
    QTest::newRow("header bomb") << png << "50000 \u00d7 50000";
}

void TestReadAhead::failuresAreTheLoadersAndComeWhenAsked()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bad.jpg"));
    testpictures::writeText(file, content);
    const QByteArray path = native(file);

    PictureCache cache;
    cache.prefetch({path});
    cache.waitForReadAhead(); // failing ahead of time raises nothing
    QVERIFY(cache.holds(path));

    const Outcome direct = loadWith([&] { return picture::LoadPicture(path); });
    const Outcome cached = loadWith([&] { return cache.LoadPicture(path); });
    QVERIFY2(direct.error.contains(says), qPrintable(direct.error));
    QCOMPARE(cached.error, direct.error);
    QVERIFY(cached.image.isNull());
    QCOMPARE(cache.counters().decodedHere, 0);
}

void TestReadAhead::changedFilesAreReadAgain_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("replaced by rename") << "rename";
    QTest::newRow("rewritten, other size") << "rewrite";
    QTest::newRow("rewritten, same size, later time") << "touch";
    QTest::newRow("deleted") << "delete";
}

void TestReadAhead::changedFilesAreReadAgain()
{
    QFETCH(QString, change);
    QTemporaryDir dir;
    // Bitmaps: the same dimensions give the same file size.
    const QString file = write(dir.path(), QStringLiteral("a.bmp"), QSize(30, 20), Qt::red, "bmp");
    const QByteArray path = native(file);
    PictureCache cache;
    cache.prefetch({path});
    cache.waitForReadAhead();
    QVERIFY(cache.holds(path));

    if (change == QLatin1String("rename")) {
        const QString other = write(dir.path(), QStringLiteral("b.bmp"), QSize(31, 21), Qt::green, "bmp");
        QVERIFY(::rename(QFile::encodeName(other).constData(), path.constData()) == 0);
    } else if (change == QLatin1String("rewrite")) {
        write(dir.path(), QStringLiteral("a.bmp"), QSize(32, 22), Qt::blue, "bmp");
    } else if (change == QLatin1String("touch")) {
        // Same size, other pixels; the time is set ahead because a write
        // within the file system's timestamp granularity would not show.
        const qint64 size = QFileInfo(file).size();
        write(dir.path(), QStringLiteral("a.bmp"), QSize(30, 20), Qt::blue, "bmp");
        QCOMPARE(QFileInfo(file).size(), size);
        struct timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 5, 0}};
        QVERIFY(::utimensat(AT_FDCWD, path.constData(), times, 0) == 0);
    } else {
        QVERIFY(QFile::remove(file));
    }

    const Outcome direct = loadWith([&] { return picture::LoadPicture(path); });
    const Outcome cached = loadWith([&] { return cache.LoadPicture(path); });
    QCOMPARE(cached.error, direct.error);
    QCOMPARE(cached.image, direct.image);
    QCOMPARE(cache.counters().decodedHere, 1);
    QCOMPARE(cache.counters().taken, 1); // found, judged stale, read again
}

void TestReadAhead::keepsWithinTheBudget()
{
    Pictures pictures(8, QSize(100, 100));
    const std::int64_t one = picture::LoadPicture(pictures.paths[0]).sizeInBytes();
    PictureCache cache(3 * one, 2);
    for (int i = 0; i < pictures.paths.size(); ++i) {
        const QImage shown = cache.LoadPicture(pictures.paths[i]);
        QCOMPARE(shown, picture::LoadPicture(pictures.paths[i]));
        cache.prefetch({pictures.paths[(i + 1) % 8], pictures.paths[(i + 2) % 8]});
        cache.waitForReadAhead();
        QVERIFY2(cache.cachedBytes() <= 3 * one, qPrintable(QString::number(cache.cachedBytes())));
        QVERIFY(cache.holds(pictures.paths[i])); // the shown one stays
        QVERIFY(cache.holds(pictures.paths[(i + 1) % 8]));
    }
    // Stepping on is answered from what was read ahead, not decoded again.
    QCOMPARE(cache.counters().decodedHere, 1);
    QCOMPARE(cache.counters().taken, 7);
}

void TestReadAhead::keepsOnlyAFewBehind()
{
    Pictures pictures(8);
    PictureCache cache(std::int64_t(1) << 30, 2);
    for (int i = 0; i < 8; ++i) {
        cache.LoadPicture(pictures.paths[i]);
        cache.prefetch({pictures.paths[(i + 1) % 8], pictures.paths[(i + 2) % 8]});
        cache.waitForReadAhead();
    }
    // Shown: 8; wanted: 1 and 2 (the show wraps); behind: 5, 6 and 7.
    QVERIFY(cache.holds(pictures.paths[7]));
    QVERIFY(cache.holds(pictures.paths[0]));
    QVERIFY(cache.holds(pictures.paths[1]));
    for (int i = 8 - 1 - PictureCache::kKeptBehind; i < 7; ++i)
        QVERIFY2(cache.holds(pictures.paths[i]), qPrintable(QString::number(i)));
    for (int i = 2; i < 8 - 1 - PictureCache::kKeptBehind; ++i)
        QVERIFY2(!cache.holds(pictures.paths[i]), qPrintable(QString::number(i)));
}

void TestReadAhead::destructionWaitsForWorkers()
{
    Pictures pictures(6, QSize(400, 300));
    GatedDecoder gate;
    gate.held = pictures.paths[0];
    auto cache = std::make_unique<PictureCache>(std::int64_t(1) << 26, 1, gate.decoder());
    cache->prefetch(std::vector<QByteArray>(pictures.paths.begin(), pictures.paths.end()));
    gate.entered.acquire(); // one decode running, five queued behind it

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        cache.reset();
        destroyed = true;
    });
    // The running decode is waited for: a cache gone under its worker would
    // have returned at once.
    QTest::qWait(100);
    QVERIFY(!destroyed);
    gate.release.release();
    destroyer.join();
    // The queued five were dropped, not decoded on the way out.
    QCOMPARE(gate.started.load(), 1);
    QCOMPARE(gate.finished.load(), 1);
}

VELLUPIX_GUILESS_TEST_MAIN(TestReadAhead)
#include "tst_readahead.moc"
