#pragma once

#include "platform/dialogs.h"
#include "platform/runtimeerror.h"

#include <QString>

#include <new>

class QWidget;

// Where a command's error trap reports: a modal box whose text is the
// command's prefix followed directly by the error's description.
struct ErrorTrap
{
    const char16_t *prefix;
    int style;
};

namespace traps {
inline constexpr ErrorTrap Navigation{u"Error:", vb::vbOKOnly | vb::vbCritical};
inline constexpr ErrorTrap Open{u"Error!", vb::vbOKOnly | vb::vbCritical};
inline constexpr ErrorTrap Save{u"Error Ocurred:", vb::vbOKOnly};
inline constexpr ErrorTrap Zoom{u"Error Ocurrde:", vb::vbOKOnly | vb::vbCritical};
} // namespace traps

class ErrorReport
{
public:
    ErrorReport(Dialogs &dialogs, QWidget *parent) : m_dialogs(dialogs), m_parent(parent) { }

    void show(const ErrorTrap &trap, const QString &description) const;

    // Runs a command's body under its trap: a run-time error skips the rest
    // of the body, keeps what was done, and is reported. Returns false then.
    // boxOpen, when given, is true while the report is on screen.
    template <typename Body>
    bool trapped(const ErrorTrap &trap, Body &&body, bool *boxOpen = nullptr) const
    {
        QString description;
        try {
            body();
            return true;
        } catch (const RuntimeError &e) {
            description = e.description();
        } catch (const std::bad_alloc &) {
            description = QStringLiteral("Out of memory");
        }
        if (boxOpen)
            *boxOpen = true;
        show(trap, description);
        if (boxOpen)
            *boxOpen = false;
        return false;
    }

    Dialogs &dialogs() const { return m_dialogs; }
    QWidget *parent() const { return m_parent; }

private:
    Dialogs &m_dialogs;
    QWidget *m_parent;
};
