// Decoding in processes of their own: the answers are the in-process
// loader's, a decoder that crashes, hangs or swells costs one error report,
// and a confined decoder can open nothing.

#include "platform/decoderpool.h"
#include "platform/picture.h"
#include "platform/runtimeerror.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QColorSpace>
#include <QColorTransform>
#include <QDirIterator>
#include <QFile>

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

} // namespace

class TestDecoders : public QObject
{
    Q_OBJECT
private slots:
    void answersAsTheLoaderDoes();
};

void TestDecoders::answersAsTheLoaderDoes()
{
    const QString root = testpictures::testdata(QString());
    if (!QFile::exists(root))
        QSKIP("the shared test data is not beside the repository");
    DecoderPool pool;
    int compared = 0, pictures = 0, unrepeatable = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QByteArray path = QFile::encodeName(it.next());
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

VELLUPIX_TEST_MAIN(TestDecoders)
#include "tst_decoders.moc"
