#include "browse/form1.h"

#include "platform/resources.h"

#include <QMdiArea>
#include <QMdiSubWindow>

Form1Window::Form1Window(Dialogs &dialogs) : commDilg(dialogs, this)
{
    setAccessibleName(QStringLiteral("Picture window"));
    addBox(&Picture2);
    addBox(&Picture1);

    // Design-time state of the controls, in twips.
    Picture1.setLeft(120);
    Picture1.setTop(600);
    Picture1.setWidth(11895);
    Picture1.setHeight(8535);
    Picture2.setLeft(4440);
    Picture2.setTop(120);
    Picture2.setWidth(2535);
    Picture2.setHeight(1095);
    Picture2.setVisible(false);

    Timer1.setParent(this); // so that unloading the window finds and stops it
    Timer1.setInterval(1000);
    Timer1.setTimerType(Qt::PreciseTimer);
}

Form1::Form1(QMdiArea &area, Dialogs &dialogs) : m_child(area), m_dialogs(dialogs)
{
}

Form1::~Form1() = default;

Form1Window &Form1::window()
{
    if (!m_child.isLoaded())
        load();
    return *static_cast<Form1Window *>(m_child.content());
}

void Form1::load()
{
    auto *w = new Form1Window(m_dialogs);
    w->setWindowTitle(QStringLiteral("Vellupix Open File"));
    w->setWindowIcon(art::childWindowIcon());
    w->boxMouseDown = [this, w](PictureBox *box, const PictureBoxHost::MouseArgs &e) {
        if (box == &w->Picture1 && m_mouseEvents)
            m_mouseEvents->Picture1_MouseDown(e);
    };
    w->boxMouseUp = [this, w](PictureBox *box, const PictureBoxHost::MouseArgs &e) {
        if (box == &w->Picture1 && m_mouseEvents)
            m_mouseEvents->Picture1_MouseUp(e);
    };
    w->boxMouseMove = [this, w](PictureBox *box, const PictureBoxHost::MouseArgs &e) {
        if (box == &w->Picture1 && m_mouseEvents)
            m_mouseEvents->Picture1_MouseMove(e);
    };
    w->formMouseMove = [this](const PictureBoxHost::MouseArgs &e) {
        if (m_mouseEvents)
            m_mouseEvents->Form_MouseMove(e);
    };
    connect(&w->Timer1, &QTimer::timeout, this, &Form1::timer1Ticked);
    w->File1.setReader(m_folderReader);

    QMdiSubWindow *sub = m_child.load(w, false);
    m_mousePointer = 0;
    sub->showMaximized();
    emit loaded();
}

void Form1::setFolderReader(FileListBox::Reader reader)
{
    m_folderReader = std::move(reader);
    if (m_child.isLoaded())
        window().File1.setReader(m_folderReader);
}

void Form1::Show()
{
    window();
    m_child.area().setActiveSubWindow(m_child.subWindow());
}

void Form1::centrePicture1()
{
    PictureBox &box = Picture1();
    box.setLeft(ScaleWidth() / 2.0f - box.Width() / 2.0f);
    box.setTop(ScaleHeight() / 2.0f - box.Height() / 2.0f);
}

void Form1::setMousePointer(int pointer)
{
    m_mousePointer = pointer;
    if (!m_child.isLoaded())
        return;
    if (pointer == 99)
        m_child.content()->setCursor(m_mouseIcon);
    else
        m_child.content()->unsetCursor();
}

void Form1::setMouseIcon(const QCursor &cursor)
{
    m_mouseIcon = cursor;
    if (m_mousePointer == 99)
        setMousePointer(99);
}
