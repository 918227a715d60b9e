#include "browse/browsing.h"

#include "browse/form1.h"
#include "platform/picturecache.h"
#include "platform/checked.h"
#include "platform/statusbar.h"

#include <QDir>

#include <algorithm>
#include <vector>

Browsing::Browsing(Module1 &module1, Form1 &form1, StatusBar &statusBar, const ErrorReport &report,
                   PictureCache &cache, Patience &patience)
    : m_module1(module1), m_form1(form1), m_statusBar(statusBar), m_report(report), m_cache(cache),
      m_patience(patience)
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

void Browsing::noteStep(Travel travel)
{
    // Key repeat runs at 25 to 40 steps a second; a quick hand taps at 5.
    constexpr auto kQuick = std::chrono::milliseconds(250);
    const auto now = std::chrono::steady_clock::now();
    const bool quick = m_quickSteps > 0 && travel == m_lastTravel && now - m_lastStep < kQuick;
    m_quickSteps = quick ? m_quickSteps + 1 : 1;
    m_lastTravel = travel;
    m_lastStep = now;
}

void Browsing::readAhead(Travel travel)
{
    FileListBox &list = m_form1.File1();
    const std::int64_t count = list.ListCount(); // listed already by the step that called us
    const std::int64_t here = m_module1.Index;
    std::vector<QByteArray> wanted;
    const auto want = [&](std::int64_t index) {
        if (count == 0 || index < 0 || index >= count || index == here)
            return;
        const QByteArray path = joinNativePath(m_form1.Dir1().Path(), list.nativeFileName(std::int32_t(index)));
        if (std::find(wanted.begin(), wanted.end(), path) == wanted.end())
            wanted.push_back(path);
    };
    // Stepping quickly one way, the workers would fall behind reading only
    // the next one or two: then as far as the budget holds pictures of the
    // size just shown, beside it, so nothing read ahead is dropped unused.
    constexpr int kQuickRun = 3;
    constexpr std::int64_t kFarthest = 8;
    std::int64_t depth = travel == Travel::Forward ? 2 : 1;
    if (m_quickSteps >= kQuickRun && travel == m_lastTravel) {
        const std::int64_t fit = m_cache.budgetBytes() / std::max<std::int64_t>(1, m_shownBytes) - 1;
        depth = std::clamp(fit, depth, kFarthest);
    }
    for (std::int64_t k = 1; k <= depth; ++k) {
        if (travel == Travel::Forward)
            want(count ? (here + k) % count : 0); // Next and the slide show wrap past the last entry
        else
            want(here - k);
    }
    m_cache.prefetch(wanted);
}

// The show-picture sequence: the entry at Index, shown and reported.
void Browsing::ShowPicture(Travel travel)
{
    m_form1.File1().setListIndex(m_module1.Index);
    noteStep(travel);
    QImage image;
    try {
        image = m_cache.LoadPicture(m_form1.selectedPath());
    } catch (const RuntimeError &) {
        // The step passes over a file that cannot be shown; the one after it
        // is read while the user reads the report.
        readAhead(travel);
        throw;
    }
    // Started before the show, so the workers decode while the window paints.
    m_shownBytes = image.sizeInBytes();
    readAhead(travel);
    showInBox(image);
    writePanel1();
    writePanel3();
}
