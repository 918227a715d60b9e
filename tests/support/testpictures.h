#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

namespace testpictures {

// A picture with content that tells its corners apart: a colour field with a
// gradient and a marker square at the top-left.
QImage make(QSize size, QColor colour);

// Writes make(size, colour) to dir/name in the given format; returns the path.
QString write(const QString &dir, const QString &name, QSize size = QSize(40, 30), QColor colour = Qt::red,
              const char *format = "png");

void writeText(const QString &path, const QByteArray &content);

QString testdata(const QString &relative); // a file of the shared test suites

// The description of the run-time error the action raises, or empty.
QString errorOf(const std::function<void()> &action);

} // namespace testpictures
