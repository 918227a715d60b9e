#include "about/frmabout.h"

#include "platform/resources.h"
#include "platform/twips.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>

#include <limits>

namespace {

QLabel *makeLabel(QWidget *parent, const TwipScale &scale, QRectF twips, const QString &text, double points)
{
    auto *label = new QLabel(text, parent);
    // Each label may use the width up to the window's inner right edge.
    twips.setWidth(qMax(twips.width(), 6555.0 - 120.0 - twips.x()));
    label->setGeometry(QRectF(scale.toPixels(twips.x()), scale.toPixels(twips.y()), scale.toPixels(twips.width()),
                              scale.toPixels(twips.height()))
                           .toRect());
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(points);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 128, 128));
    palette.setColor(QPalette::Window, Qt::black);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    // Today's fonts run wider than the ones the layout was drawn for: the text
    // keeps its size where it fits and steps down only as far as it must.
    // Measured before the label takes it: each font a label is given
    // resolves, lays it out anew and tells its parent.
    while (font.pointSizeF() > 7
           && QFontMetricsF(font).boundingRect(QRectF(label->rect()), Qt::TextWordWrap, text).height() > label->height())
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
    return label;
}

} // namespace

FrmAboutWindow::FrmAboutWindow()
{
    const TwipScale scale = TwipScale::forWidget(this);
    setWindowTitle(QStringLiteral("Vellupix 5.0"));
    setWindowIcon(art::childWindowIcon());
    setAccessibleName(QStringLiteral("About Vellupix"));
    setFixedSize(qRound(scale.toPixels(6555)), qRound(scale.toPixels(3705)));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);

    Picture1 = new QLabel(this);
    Picture1->setPixmap(art::aboutLogo(devicePixelRatioF()));
    Picture1->move(qRound(scale.toPixels(840)), qRound(scale.toPixels(360)));
    Picture1->adjustSize();
    Picture1->setAccessibleName(QStringLiteral("Vellupix logo"));

    Label1 = makeLabel(this, scale, {1800, 360, 3735, 615}, QStringLiteral("Vellupix 5.0"), 19.5);
    // The description wraps over the label's width and may use the space
    // down to the contact block, which the larger bold font needs.
    Label2 = makeLabel(this, scale, {840, 1200, 4770, 960},
                       QStringLiteral("This is a very good Image view saftware.You can use it to view you picture "
                                      "automaticly. You will find it is very convenient dexterous."),
                       12);
    Label3 = makeLabel(this, scale, {840, 2160, 3735, 240}, QStringLiteral("Writed by: The Vellupix developers"), 12);
    Label4 = makeLabel(this, scale, {840, 2400, 4530, 240}, QStringLiteral("Adders: 1 Viewer Lane, Pixelton"), 12);
    Label5 = makeLabel(this, scale, {840, 2640, 4530, 240}, QStringLiteral("Tel: +1 555 0100"), 12);
    Label6 = makeLabel(this, scale, {840, 2880, 4530, 240}, QStringLiteral("E-mail: hello@vellupix.example.org"), 12);
    Label7 = makeLabel(this, scale, {840, 3120, 3810, 240}, QStringLiteral("WebPage: vellupix.example.org"), 12);

    Timer1 = new QTimer(this);
}

FrmAbout::FrmAbout(QMdiArea &area) : m_child(area) { }

void FrmAbout::Form_Load()
{
    auto *w = new FrmAboutWindow;
    connect(w->Timer1, &QTimer::timeout, this, &FrmAbout::Timer1_Timer);
    m_child.load(w, true);
    w->Timer1->setInterval(1000);
    w->Timer1->start();
}

QMdiSubWindow *FrmAbout::loadedAndShown()
{
    if (!m_child.isLoaded())
        Form_Load();
    QMdiSubWindow *sub = m_child.subWindow();
    sub->show();
    return sub;
}

void FrmAbout::Show()
{
    QMdiSubWindow *sub = loadedAndShown();
    sub->raise();
    m_child.area().setActiveSubWindow(sub);
}

void FrmAbout::ShowBeneath()
{
    loadedAndShown()->lower();
}

void FrmAbout::Timer1_Timer()
{
    // The count stops at the top of its range instead of wrapping round to 6
    // and closing a window the user chose to keep open.
    if (n < std::numeric_limits<std::int32_t>::max())
        ++n;
    if (n == 6)
        Unload();
}
