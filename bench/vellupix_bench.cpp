// Times the viewer's commands on photo-like pictures it makes itself, each
// against a baseline measured in the same run, and prints one table.
//
//   vellupix_bench [--quick]
//
// Runs the real main window offscreen on a 1920 x 1080 screen; --quick uses
// fewer pictures and rounds, to check that the program works.

#include "app/mdiform1.h"
#include "browse/form1.h"
#include "browse/module1.h"
#include "browse/picturecache.h"
#include "platform/decoderpool.h"
#include "platform/dialogs.h"
#include "platform/filelist.h"
#include "platform/picture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool g_quick = false;

double nowMs(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

template <typename F>
double timeMs(F &&f)
{
    QElapsedTimer clock;
    clock.start();
    f();
    return nowMs(clock);
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    const double rank = p * double(v.size() - 1);
    const size_t lo = size_t(std::floor(rank));
    const size_t hi = std::min(v.size() - 1, lo + 1);
    return v[lo] + (v[hi] - v[lo]) * (rank - double(lo));
}

double median(const std::vector<double> &v)
{
    return percentile(v, 0.5);
}

// A rate is judged by the whole run, not its typical step: the mean period.
double meanRatio(const std::vector<double> &periods, double baseline)
{
    double sum = 0;
    for (double p : periods)
        sum += p;
    return periods.empty() ? std::nan("") : sum / double(periods.size()) / baseline;
}

double residentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return std::nan("");
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / 1e6 : std::nan("");
}

struct Row
{
    QString scenario;
    QString unit;
    double median;
    double p95;
    QString baseline;
    double baselineValue;
    double ratio;
    QString target;
};

std::vector<Row> g_rows;

// The ratio is the median's to the baseline's, or the one given.
void addRow(const QString &scenario, const std::vector<double> &samples, const QString &baseline,
            double baselineValue, const QString &target, const QString &unit = QStringLiteral("ms"),
            double ratio = std::nan(""))
{
    const Row row{scenario, unit, median(samples), percentile(samples, 0.95), baseline, baselineValue,
                  std::isnan(ratio) ? median(samples) / baselineValue : ratio, target};
    g_rows.push_back(row);
    std::fprintf(stderr, "  %s: %.1f %s (baseline %.1f)\n", qPrintable(scenario), row.median, qPrintable(unit),
                 baselineValue);
}

QString number(double v)
{
    if (std::isnan(v))
        return QStringLiteral("–");
    return QString::number(v, 'f', v < 10 ? 2 : 1);
}

void printTable()
{
    std::printf("\n| scenario | median | p95 | baseline (same run) | baseline | ratio | target |\n");
    std::printf("|---|---:|---:|---|---:|---:|---|\n");
    for (const Row &r : g_rows) {
        std::printf("| %s | %s %s | %s | %s | %s | %s | %s |\n", qPrintable(r.scenario), qPrintable(number(r.median)),
                    qPrintable(r.unit), qPrintable(number(r.p95)), qPrintable(r.baseline),
                    qPrintable(number(r.baselineValue)), qPrintable(number(r.ratio)), qPrintable(r.target));
    }
}

// Message boxes answer at once: a failing file in a slide show must not wait
// for a person. What they said is counted.
class SilentDialogs final : public Dialogs
{
public:
    int MsgBox(QWidget *, const QString &, int style, const QString &) override
    {
        ++boxes;
        return (style & 7) == vb::vbYesNo ? vb::vbNo : vb::vbOK;
    }
    std::optional<QString> ShowOpen(QWidget *, const FileDialogRequest &) override { return std::nullopt; }
    std::optional<QString> ShowSave(QWidget *, const FileDialogRequest &) override { return std::nullopt; }
    bool ShowWaiting(QWidget *, const QString &, const std::function<bool()> &finished) override
    {
        while (!finished())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return false;
    }
    int boxes = 0;
};

// Photographs are neither flat nor pure noise: broad gradients, some large
// soft shapes and sensor-like grain. Flat colour would decode several times
// faster than any real picture.
QImage photoLike(QSize size, unsigned seed)
{
    QImage image(size, QImage::Format_RGB32);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> phase(0, 6.283);
    const double px = phase(random), py = phase(random);
    std::vector<int> waveX(size_t(size.width())), waveY(size_t(size.height()));
    for (int x = 0; x < size.width(); ++x)
        waveX[size_t(x)] = int(40 * std::sin(px + 9.0 * x / size.width()) + 20 * std::sin(px * 3 + 41.0 * x / size.width()));
    for (int y = 0; y < size.height(); ++y)
        waveY[size_t(y)] = int(40 * std::sin(py + 7.0 * y / size.height()) + 20 * std::sin(py * 2 + 37.0 * y / size.height()));
    std::uint32_t noise = seed * 2654435761u + 1;
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int gy = 255 * y / size.height();
        for (int x = 0; x < size.width(); ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const int grain = int(noise & 31) - 16;
            const int gx = 255 * x / size.width();
            const int base = waveX[size_t(x)] + waveY[size_t(y)];
            line[x] = qRgb(std::clamp(gx / 2 + 64 + base + grain, 0, 255),
                           std::clamp(gy / 2 + 64 - base / 2 + grain, 0, 255),
                           std::clamp(160 - (gx + gy) / 4 + base / 3 + grain, 0, 255));
        }
    }
    return image;
}

QStringList makePictures(const QString &dir, QSize size, int count, unsigned seed)
{
    QDir().mkpath(dir);
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/photo_%2.jpg").arg(dir).arg(i + 1, 3, 10, QLatin1Char('0'));
        QImageWriter writer(path, "jpeg");
        writer.setQuality(90);
        if (!writer.write(photoLike(size, seed + unsigned(i))))
            qFatal("cannot write %s: %s", qPrintable(path), qPrintable(writer.errorString()));
        paths << path;
    }
    return paths;
}

QImage readerAlone(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

// The frame as the user has it, with every command reached as a menu would.
struct Viewer
{
    SilentDialogs dialogs;
    MDIForm1 frame{dialogs};

    Viewer()
    {
        frame.Show();
        QApplication::processEvents();
    }
    Form1 &form1() { return frame.form1(); }
    PictureCache &cache() { return frame.pictureCache(); }
    void paint()
    {
        // Synchronously, so the time covers the pixels reaching the window.
        form1().window().repaint();
    }
    void settle()
    {
        cache().waitForReadAhead();
        QApplication::processEvents();
    }
};

// Runs the slide show at the slider's value until `ticks` steps were shown,
// and gives the time between steps.
std::vector<double> slideShow(Viewer &viewer, int ticks, double *peakRssMb = nullptr)
{
    std::vector<double> stamps;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer &timer = viewer.form1().Timer1();
    // Connected after the show's own handler, so it runs once the step is done.
    const auto connection = QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        stamps.push_back(nowMs(clock));
        if (peakRssMb)
            *peakRssMb = std::max(*peakRssMb, residentMb());
        if (int(stamps.size()) > ticks)
            loop.quit();
    });
    viewer.frame.Auto_Play_Click();
    loop.exec();
    viewer.frame.Stop_AutoPlay_Click();
    QObject::disconnect(connection);
    std::vector<double> periods;
    for (size_t i = 1; i < stamps.size(); ++i)
        periods.push_back(stamps[i] - stamps[i - 1]);
    return periods;
}

void setSlider(Viewer &viewer, int value)
{
    QSlider *slider = viewer.frame.Slider1();
    slider->setValue(value == 0 ? 1 : 0); // so that the change is signalled
    slider->setValue(value);
}

// Two workers decoding a set of files side by side: what two cores give.
double twoCoreDecodeMs(const QStringList &paths)
{
    QThreadPool pool;
    pool.setMaxThreadCount(2);
    return timeMs([&] {
               for (const QString &path : paths)
                   pool.start([path] { readerAlone(path); });
               pool.waitForDone();
           })
        / double(paths.size());
}

void benchBrowsing(const QString &root)
{
    const int count12 = g_quick ? 4 : 16;
    std::fprintf(stderr, "making pictures...\n");
    const QStringList mp4 = makePictures(root + "/4mp", QSize(2304, 1728), g_quick ? 6 : 24, 100);
    const QStringList mp12 = makePictures(root + "/12mp", QSize(4000, 3000), count12, 200);
    const QStringList mp24 = makePictures(root + "/24mp", QSize(6000, 4000), 2, 300);
    std::printf("Pictures: JPEG quality 90, %.1f MB (4 MP), %.1f MB (12 MP), %.1f MB (24 MP) each\n",
                double(QFileInfo(mp4[0]).size()) / 1e6, double(QFileInfo(mp12[0]).size()) / 1e6,
                double(QFileInfo(mp24[0]).size()) / 1e6);

    Viewer viewer;
    double peakRss = residentMb();

    // 1. Stepping onto pictures already read ahead.
    viewer.frame.Open_File(mp12[0]);
    viewer.settle();
    std::vector<double> next, previous;
    for (int i = 1; i < count12; ++i) {
        viewer.settle();
        next.push_back(timeMs([&] {
            viewer.frame.Next_picture_Click();
            viewer.paint();
        }));
    }
    for (int i = 1; i < count12; ++i) {
        viewer.settle();
        previous.push_back(timeMs([&] {
            viewer.frame.precursive_picture_Click();
            viewer.paint();
        }));
    }
    peakRss = std::max(peakRss, residentMb());

    // 2. Cold shows against the reader alone on the same file, alternated.
    std::vector<double> cold, reader;
    viewer.frame.Go_to_First_Click();
    for (int i = 1; i < count12; ++i) {
        viewer.cache().clear();
        reader.push_back(timeMs([&] { readerAlone(mp12[i]); }));
        cold.push_back(timeMs([&] {
            viewer.frame.Next_picture_Click();
            viewer.paint();
        }));
    }
    const double decode12 = median(reader);
    addRow(QStringLiteral("Next, read ahead, 12 MP, command to painted"), next, QStringLiteral("one frame at 60 Hz"),
           1000.0 / 60, QStringLiteral("< 16 ms"));
    addRow(QStringLiteral("Previous, read ahead, 12 MP, command to painted"), previous,
           QStringLiteral("one frame at 60 Hz"), 1000.0 / 60, QStringLiteral("< 16 ms"));
    addRow(QStringLiteral("Next, cold, 12 MP, command to painted"), cold, QStringLiteral("QImageReader::read, same file"),
           decode12, QStringLiteral("≤ 1.05 ×"));

    // The round trip alone: the file opened here, decoded in a decoder
    // process, the picture mapped back; against the same loader in-process.
    {
        DecoderPool &decoders = viewer.frame.decoderPool();
        std::vector<double> trip, inProcess;
        for (int i = 0; i < count12; ++i) {
            const QByteArray path = QFile::encodeName(mp12[i]);
            inProcess.push_back(timeMs([&] { picture::LoadPicture(path); }));
            trip.push_back(timeMs([&] { decoders.LoadPicture(path); }));
        }
        addRow(QStringLiteral("Decoder process round trip, 12 MP (descriptor out, picture back)"), trip,
               QStringLiteral("picture::LoadPicture in-process, same file"), median(inProcess),
               QStringLiteral("reported (%1 ms more)").arg(number(median(trip) - median(inProcess))));
    }

    // 3. The slide show at the slider's 0 (50 ms), one pass over files it has
    // not seen (the cache would otherwise answer the second pass).
    viewer.cache().clear();
    viewer.frame.Open_File(mp4[0]);
    viewer.settle();
    setSlider(viewer, 0);
    const std::vector<double> show4 = slideShow(viewer, int(mp4.size()) - 2, &peakRss);
    addRow(QStringLiteral("Slide show at 50 ms, 4 MP, time per step"), show4, QStringLiteral("the period asked for"), 50,
           QStringLiteral("mean ≤ 1.053 × (≥ 95 % of the rate)"), QStringLiteral("ms"), meanRatio(show4, 50));

    viewer.cache().clear();
    const double twoCores = twoCoreDecodeMs(mp12);
    viewer.frame.Open_File(mp12[0]);
    viewer.settle();
    double showPeak = residentMb();
    const std::vector<double> show12 = slideShow(viewer, count12 - 2, &showPeak);
    peakRss = std::max(peakRss, showPeak);
    // The show cannot go faster than it was asked to, whatever two cores give.
    const double limit12 = std::max(50.0, twoCores);
    addRow(QStringLiteral("Slide show at 50 ms, 12 MP, time per step"), show12,
           QStringLiteral("two threads decoding per picture (%1 ms), or the period if longer").arg(number(twoCores)),
           limit12, QStringLiteral("mean ≤ 1.11 × (≥ 90 % of it)"), QStringLiteral("ms"), meanRatio(show12, limit12));
    const double shownMb = double(viewer.form1().Picture1().Picture().sizeInBytes()) / 1e6;
    const double budgetMb = double(viewer.cache().budgetBytes()) / 1e6;
    const double cachedMb = double(viewer.cache().cachedBytes()) / 1e6;

    // 4. Zoom In on 24 MP, and repaints of a zoomed picture.
    viewer.cache().clear();
    viewer.frame.Open_File(mp24[0]);
    viewer.settle();
    std::vector<double> zoom, repaint24;
    for (int i = 0; i < (g_quick ? 3 : 10); ++i) {
        viewer.frame.Go_to_First_Click();
        viewer.settle();
        zoom.push_back(timeMs([&] {
            viewer.frame.Zoom_In_Click();
            viewer.paint();
        }));
        for (int k = 0; k < 3; ++k)
            repaint24.push_back(timeMs([&] { viewer.paint(); }));
    }
    // To look at what was timed: the frame with the zoomed picture.
    if (qEnvironmentVariableIsSet("VELLUPIX_BENCH_SHOT"))
        viewer.frame.grab().save(qEnvironmentVariable("VELLUPIX_BENCH_SHOT"));
    addRow(QStringLiteral("Zoom In, 24 MP, command to painted"), zoom, QStringLiteral("50 ms"), 50,
           QStringLiteral("< 50 ms"));
    viewer.frame.Open_File(mp4[0]);
    viewer.settle();
    viewer.frame.Zoom_In_Click();
    std::vector<double> repaint4;
    for (int i = 0; i < int(repaint24.size()); ++i)
        repaint4.push_back(timeMs([&] { viewer.paint(); }));
    addRow(QStringLiteral("Repaint, 24 MP zoomed 1.5 ×"), repaint24, QStringLiteral("repaint, 4 MP zoomed 1.5 ×"),
           median(repaint4), QStringLiteral("≈ 1 × (the window's area)"));

    // 5. Memory.
    peakRss = std::max(peakRss, residentMb());
    addRow(QStringLiteral("Resident size, peak of the 12 MP show"), {showPeak},
           QStringLiteral("shown %1 + budget %2 + 60 MB").arg(number(shownMb), number(budgetMb)),
           shownMb + budgetMb + 60, QStringLiteral("≤ 1 × (cached at the end: %1 MB)").arg(number(cachedMb)),
           QStringLiteral("MB"));
}

void benchLongShow(const QString &root)
{
    // Small pictures with non-pictures among them, at the slider's 1 ms.
    const QString dir = root + "/long";
    const QStringList pictures = makePictures(dir, QSize(640, 480), 40, 400);
    for (int i = 0; i < 5; ++i) {
        QFile bad(QStringLiteral("%1/photo_%2b.jpg").arg(dir).arg(i * 8 + 1, 3, 10, QLatin1Char('0')));
        if (!bad.open(QIODevice::WriteOnly) || bad.write("this is not a picture\n") < 0)
            qFatal("cannot write %s", qPrintable(bad.fileName()));
    }
    Viewer viewer;
    viewer.frame.Open_File(pictures[0]);
    viewer.settle();
    setSlider(viewer, 1);
    const int steps = g_quick ? 1000 : 5000;
    const int warmUp = steps / 10;
    std::vector<double> samples;
    int ticks = 0;
    QEventLoop loop;
    QTimer &timer = viewer.form1().Timer1();
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        ++ticks;
        if (ticks >= warmUp && ticks % 250 == 0)
            samples.push_back(residentMb());
        if (ticks >= steps)
            loop.quit();
    });
    viewer.frame.Auto_Play_Click();
    loop.exec();
    viewer.frame.Stop_AutoPlay_Click();
    const double first = samples.front();
    const double highest = *std::max_element(samples.begin(), samples.end());
    addRow(QStringLiteral("Resident size over %1 slide-show steps at 1 ms (%2 error boxes)").arg(steps).arg(viewer.dialogs.boxes),
           samples, QStringLiteral("after %1 steps").arg(warmUp), first,
           QStringLiteral("highest %1 MB: ≤ 1.05 ×").arg(number(highest)), QStringLiteral("MB"));
}

void benchLargeFolder(const QString &root)
{
    const QString dir = root + "/100k";
    QDir().mkpath(dir);
    const int files = g_quick ? 10000 : 100000;
    std::fprintf(stderr, "making %d files...\n", files);
    std::vector<int> order(static_cast<size_t>(files));
    for (int i = 0; i < files; ++i)
        order[size_t(i)] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (int i : order) {
        const QByteArray name = QFile::encodeName(QStringLiteral("%1/IMG_%2.jpg").arg(dir).arg(i));
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0)
            qFatal("cannot create %s", name.constData());
        ::close(fd);
    }
    const QString picture = QStringLiteral("%1/IMG_%2.jpg").arg(dir).arg(files / 2);
    QFile::remove(picture);
    QFile::copy(makePictures(root + "/one", QSize(2304, 1728), 1, 500).first(), picture);

    std::vector<double> listing, ls;
    size_t listed = 0;
    for (int i = 0; i < 5; ++i) {
        ls.push_back(timeMs([&] {
            QProcess process;
            process.setStandardOutputFile(QProcess::nullDevice());
            process.start(QStringLiteral("ls"), {dir});
            process.waitForFinished(-1);
        }));
        listing.push_back(timeMs([&] { listed = FileListBox::readFolder(dir).size(); }));
    }
    if (listed != size_t(files))
        qFatal("listed %zu of %d files", listed, files);
    addRow(QStringLiteral("Listing and sorting %1 files").arg(files), listing, QStringLiteral("ls on the folder"),
           median(ls), QStringLiteral("≤ 2 ×"));

    Viewer viewer;
    std::vector<double> open;
    for (int i = 0; i < 5; ++i) {
        viewer.cache().clear();
        open.push_back(timeMs([&] {
            viewer.frame.Open_File(picture);
            viewer.paint();
        }));
    }
    addRow(QStringLiteral("Open of a 4 MP picture among %1 files").arg(files), open, QStringLiteral("1 s"), 1000,
           QStringLiteral("< 1 s"));
}

// Start-up: this program started again as a bare window or as the viewer,
// timed from the start of the process to its first frame on screen.
int probe(const QString &what, int argc, char **argv)
{
    QApplication app(argc, argv);
    QtDialogs dialogs;
    std::unique_ptr<QWidget> bare;
    std::unique_ptr<MDIForm1> frame;
    QWidget *window = nullptr;
    if (what == QLatin1String("bare")) {
        bare = std::make_unique<QWidget>();
        bare->resize(800, 600);
        bare->show();
        window = bare.get();
    } else {
        frame = std::make_unique<MDIForm1>(dialogs);
        frame->Show();
        window = frame.get();
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window->windowHandle() && window->windowHandle()->isExposed()) {
            std::printf("shown\n");
            std::fflush(stdout);
            app.quit();
        }
    });
    poll.start(0);
    return app.exec();
}

void benchStartUp(const QString &self)
{
    std::vector<double> bare, viewer;
    const auto run = [&](const char *what) {
        return timeMs([&] {
            QProcess process;
            process.start(self, {QStringLiteral("--probe"), QString::fromLatin1(what)});
            process.waitForFinished(-1);
            if (!process.readAllStandardOutput().contains("shown"))
                qFatal("the %s probe never showed its window", what);
        });
    };
    for (int i = 0; i < (g_quick ? 2 : 8); ++i) {
        bare.push_back(run("bare"));
        viewer.push_back(run("frame"));
    }
    addRow(QStringLiteral("Start-up to the frame shown (process start to exposed)"), viewer,
           QStringLiteral("bare Qt window, same way"), median(bare), QStringLiteral("reported"));
}

// feh, stepping once through the same pictures under a virtual X server.
void benchPeer(const QString &root)
{
    const QString feh = QStandardPaths::findExecutable(QStringLiteral("feh"));
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (feh.isEmpty() || xvfb.isEmpty()) {
        std::fprintf(stderr, "feh or Xvfb not installed: no peer row\n");
        return;
    }
    QProcess server;
    const QString display = QStringLiteral(":%1").arg(90 + ::getpid() % 9);
    server.start(xvfb, {display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1920x1080x24"),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(display.mid(1));
    for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
        QThread::msleep(50);
    if (!QFile::exists(socket)) {
        std::fprintf(stderr, "Xvfb did not start: no peer row\n");
        return;
    }
    const auto perStep = [&](const QString &dir, const std::vector<double> &ours, const QString &what) {
        QStringList files = QDir(dir).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
        for (QString &f : files)
            f = dir + QLatin1Char('/') + f;
        std::vector<double> steps;
        for (int round = 0; round < 2; ++round) {
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), display);
            process.setProcessEnvironment(env);
            const double ms = timeMs([&] {
                process.start(feh, QStringList{QStringLiteral("--on-last-slide"), QStringLiteral("quit"),
                                               QStringLiteral("-D"), QStringLiteral("0.05")}
                                       + files);
                process.waitForFinished(-1);
            });
            steps.push_back(ms / double(files.size()));
        }
        addRow(QStringLiteral("feh 3.9, -D 0.05, %1, time per step").arg(what), steps,
               QStringLiteral("Vellupix slide show, same pictures"), median(ours), QStringLiteral("peer"));
    };
    // Our own per-step times of the same sets, from the rows above.
    const auto ours = [](const QString &prefix) {
        for (const Row &r : g_rows)
            if (r.scenario.startsWith(prefix))
                return std::vector<double>{r.median};
        return std::vector<double>{};
    };
    perStep(root + "/4mp", ours(QStringLiteral("Slide show at 50 ms, 4 MP")), QStringLiteral("4 MP"));
    perStep(root + "/12mp", ours(QStringLiteral("Slide show at 50 ms, 12 MP")), QStringLiteral("12 MP"));
    server.terminate();
    server.waitForFinished(3000);
}

} // namespace

int main(int argc, char **argv)
{
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    QTemporaryDir screenConfig;
    if (platform.isEmpty() || platform == "offscreen") {
        // A full-HD screen, as the targets assume, instead of offscreen's 800 x 600.
        const QString config = screenConfig.filePath(QStringLiteral("screen.json"));
        QFile file(config);
        if (file.open(QIODevice::WriteOnly))
            file.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080,
                          "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        file.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
    }
    if (argc == 3 && QByteArray(argv[1]) == "--probe")
        return probe(QString::fromLatin1(argv[2]), argc, argv);
    g_quick = argc > 1 && QByteArray(argv[1]) == "--quick";

    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
    QApplication app(argc, argv);
    QTemporaryDir work;
    if (!work.isValid())
        qFatal("no temporary folder");
    std::printf("Vellupix benchmark: %d cores, Qt %s, %s\n", QThread::idealThreadCount(), qVersion(),
                g_quick ? "quick run" : "full run");

    benchBrowsing(work.path());
    benchLongShow(work.path());
    benchLargeFolder(work.path());
    benchStartUp(QCoreApplication::applicationFilePath());
    benchPeer(work.path());
    printTable();
    return 0;
}
