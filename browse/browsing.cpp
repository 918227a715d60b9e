#include "browse/browsing.h"

#include "browse/form1.h"
#include "browse/picturecache.h"
#include "platform/checked.h"
#include "platform/statusbar.h"

#include <QDir>

Browsing::Browsing(Module1 &module1, Form1 &form1, StatusBar &statusBar, const ErrorReport &report,
                   PictureCache &cache)
    : m_module1(module1), m_form1(form1), m_statusBar(statusBar), m_report(report), m_cache(cache)
{
}

void Browsing::showInBox(const QImage &image)
{
    m_form1.Picture1().setPicture(image);
    // Centre after assigning: the box has just taken the new picture's size.
    m_form1.centrePicture1();
}

void Browsing::writePanel1()
{
    m_statusBar.setPanelText(1, m_module1.CurrentPath + QDir::separator() + m_form1.File1().FileName());
}

void Browsing::writePanel3()
{
    m_statusBar.setPanelText(3, QString::number(checked::add(m_module1.Index, 1)) + QStringLiteral(" of  ")
                                    + QString::number(m_form1.File1().ListCount()) + QStringLiteral(" Pictures"));
}

// The show-picture sequence: the entry at Index, shown and reported.
void Browsing::ShowPicture()
{
    m_form1.File1().setListIndex(m_module1.Index);
    showInBox(m_cache.LoadPicture(m_form1.selectedPath()));
    writePanel1();
    writePanel3();
}
