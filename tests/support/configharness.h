#pragma once

#include "kcradioconfigitemform.h"
#include "virtualradio.h"

#include <QStringList>
#include <QWidget>

class MainWindow;
class QLabel;
class QMessageBox;

// Helpers shared by the tests that drive whole configurations through the
// main window against virtual radios.
namespace ConfigHarness {

// Records the configuration signals of a panel as "start", "end",
// "grd:true", "air:false" and the like, in the order they arrive.
void recordSignals(KcRadioConfigItemForm *panel, QStringList *log);

// The pair form on the given stacked page (0 P2P, 1 star) and its panels.
QWidget *pairForm(MainWindow &window, int netMode);
KcRadioConfigItemForm *panel(MainWindow &window, int netMode, int role);
QLabel *arrow(MainWindow &window, int netMode);

// The commands a radio understood, CR shown as nothing: "+++", "AT&F10", ...
QStringList understoodCommands(const VirtualRadio &radio);

// Offers exactly these port names, all free, to every panel's port search.
void offerPorts(const QStringList &names);

// Presses the panel's Configure button and waits until the run has ended.
bool configure(KcRadioConfigItemForm *panel, QStringList *log, int timeoutMs = 20000);

// A named child widget of a panel or window.
template <typename T> T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QString::fromLatin1(name));
}

// The panel's tip line.
QString tipOf(KcRadioConfigItemForm *panel);
// The panel's radio ID text.
QString idOf(KcRadioConfigItemForm *panel);
// The message box on screen, if any.
QMessageBox *openMessageBox();
// The escape, count times: what a radio receives from unanswered attempts.
QList<QByteArray> escapes(int count);

// How many of the main window's four selection controls are enabled.
int enabledSelectionControls(MainWindow &window);

} // namespace ConfigHarness
