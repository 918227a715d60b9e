#pragma once

#include <QString>

class Dialogs;
class QWidget;

// The common file dialog control (commDilg). It keeps what was set on it and
// what the user chose for as long as its window exists.
class CommonDialog
{
public:
    CommonDialog(Dialogs &dialogs, QWidget *parent) : m_dialogs(dialogs), m_parent(parent) { }

    QString Filter;
    QString DialogTitle;
    QString FileName;  // full path of the chosen file
    QString FileTitle; // its name without the folder

    // A cancelled dialog leaves FileName and FileTitle empty, so that no
    // command mistakes an earlier choice for a new one; the next dialog still
    // offers the file chosen last.
    void ShowOpen();
    void ShowSave();

private:
    template <typename Show>
    void show(Show showDialog);

    Dialogs &m_dialogs;
    QWidget *m_parent;
    QString m_lastChosen; // full path
};
