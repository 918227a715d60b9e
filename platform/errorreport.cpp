#include "platform/errorreport.h"

void ErrorReport::show(const ErrorTrap &trap, const QString &description) const
{
    m_dialogs.MsgBox(m_parent, QString::fromUtf16(trap.prefix) + description, trap.style, QStringLiteral("Error"));
}
