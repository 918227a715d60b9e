// Every file of the public image test suites, opened and stepped through as a
// user would: nothing may crash or hang, good pictures show, and every other
// file either shows what the decoder recovered or gets the error report.

#include "support/framefixture.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>

class TestTestdata : public QObject
{
    Q_OBJECT
private slots:
    void everyFileOpensOrIsReported();
};

namespace {
struct Row
{
    QString cls;
    QString kind;
};

QMap<QString, QString> readTable(const QString &name, int keyColumn, int valueColumn)
{
    QMap<QString, QString> out;
    QFile f(testpictures::testdata(name));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    f.readLine(); // column names
    while (!f.atEnd()) {
        const QStringList cols = QString::fromUtf8(f.readLine()).trimmed().split(u'\t');
        if (cols.size() > qMax(keyColumn, valueColumn))
            out[cols[keyColumn]] = cols[valueColumn];
    }
    return out;
}
} // namespace

void TestTestdata::everyFileOpensOrIsReported()
{
    const QMap<QString, QString> classes = readTable(QStringLiteral("MANIFEST.tsv"), 0, 1);
    const QMap<QString, QString> kinds = readTable(QStringLiteral("MANIFEST.tsv"), 0, 2);
    const QMap<QString, QString> qtDecoded = readTable(QStringLiteral("qt-6.4.2-results.tsv"), 0, 4);
    if (classes.isEmpty())
        QSKIP("the shared test data is not beside the repository");

    QSet<QString> folders;
    for (auto it = classes.cbegin(); it != classes.cend(); ++it)
        folders.insert(QFileInfo(it.key()).path());

    QMap<QString, int> shown, reported;
    QStringList goodNotShown;
    FrameFixture f;
    const QDir root(testpictures::testdata(QString()));
    for (const QString &folder : folders) {
        QString first;
        for (auto it = classes.cbegin(); it != classes.cend(); ++it)
            // Open needs a picture it can show to switch to the folder.
            if (QFileInfo(it.key()).path() == folder && qtDecoded.value(it.key()) == u"yes") {
                first = it.key();
                break;
            }
        const QString path = QFileInfo(root.filePath(folder)).absoluteFilePath();
        if (!first.isEmpty()) {
            f.open(root.filePath(first));
        } else {
            // Nothing here decodes, so Open cannot switch to it: point the
            // lists at it directly and let navigation do the rest.
            f.form1().Dir1().setPath(path);
            f.form1().File1().setPath(path);
        }
        FileListBox &list = f.form1().File1();
        QCOMPARE(list.Path(), path);
        const int count = list.ListCount();
        QVERIFY(count > 0);
        // Step over the whole list once, from the first entry.
        f.frame->Go_to_First_Click();
        for (int step = 0; step < count; ++step) {
            if (step > 0)
                f.frame->Next_picture_Click();
            const QString rel = folder + u'/' + list.FileName();
            // The panels name an entry only once it was shown.
            const bool ok = f.panel(1).endsWith(u'/' + list.FileName())
                            && f.panel(3) == QStringLiteral("%1 of  %2 Pictures").arg(step + 1).arg(count);
            const QString cls = classes.value(rel);
            if (cls.isEmpty())
                continue; // licences, descriptions
            (ok ? shown : reported)[cls]++;
            if (!ok && cls == u"good" && kinds.value(rel) != u"optional-feature" && qtDecoded.value(rel) == u"yes")
                goodNotShown << rel;
        }
        // Fully usable after all of it.
        f.dialogs.boxes.clear();
        f.frame->Go_to_First_Click();
    }
    for (const QString &cls : {QStringLiteral("good"), QStringLiteral("questionable"), QStringLiteral("bad")})
        qInfo("%s: %d shown, %d reported", qPrintable(cls), shown.value(cls), reported.value(cls));
    QVERIFY2(goodNotShown.isEmpty(), qPrintable(goodNotShown.join(u' ')));
    // Every test file was reached through the browsing list.
    int inputs = 0;
    for (const QString &cls : classes)
        inputs += cls != u"reference";
    int visited = 0;
    for (int n : shown)
        visited += n;
    for (int n : reported)
        visited += n;
    QCOMPARE(visited - shown.value(QStringLiteral("reference")) - reported.value(QStringLiteral("reference")), inputs);
}

VELLUPIX_TEST_MAIN(TestTestdata)
#include "tst_testdata.moc"
