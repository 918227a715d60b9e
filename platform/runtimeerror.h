#pragma once

#include <QString>

#include <exception>

// The run-time error of the form-designer platform: any control or platform
// call may raise it, and a command's error trap turns its description into
// the text of the error report.
class RuntimeError : public std::exception
{
public:
    explicit RuntimeError(QString description)
        : m_description(std::move(description)), m_utf8(m_description.toUtf8())
    {
    }

    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};
