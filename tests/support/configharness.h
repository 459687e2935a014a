#pragma once

#include "kcfleetrecord.h"
#include "kcradioconfigitemform.h"
#include "mainwindow.h"
#include "virtualclock.h"
#include "virtualradio.h"

#include <QStringList>
#include <QWidget>

#include <memory>
#include <vector>

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

// Presses the panel's Configure button and runs the virtual clock until the
// run has ended (its "end" is logged).
bool configure(KcRadioConfigItemForm *panel, QStringList *log);

// A named child widget of a panel or window.
template <typename T> T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QString::fromLatin1(name));
}

// The panel's tip line.
QString tipOf(KcRadioConfigItemForm *panel);
// The lines of the window's record that the test runs write to.
QList<KcFleetRecordEntry> windowRecordLines();
// The panel's radio ID text.
QString idOf(KcRadioConfigItemForm *panel);
// The message box on screen, if any.
QMessageBox *openMessageBox();
// The escape, count times: what a radio receives from unanswered attempts.
QList<QByteArray> escapes(int count);

// How many of the main window's four selection controls are enabled.
int enabledSelectionControls(MainWindow &window);

} // namespace ConfigHarness

// The set-up shared by the tests that drive the main window: the virtual
// clock installed, virtual radios started and their ports offered to the
// panels, the main window built (not shown), and the signals of its four
// panels recorded.
class WindowRig
{
public:
    // One started radio per entry; the panels are offered their ports in this
    // order (the first is every panel's selection), then otherPorts.
    explicit WindowRig(const QList<VirtualRadio::Options> &radios = {VirtualRadio::Options()},
                       const QStringList &otherPorts = {});
    ~WindowRig();

    // Every radio started.
    bool ready() const { return mReady; }
    VirtualRadio &radio(int index = 0) const { return *mRadios.at(size_t(index)); }
    MainWindow &window() const { return *mWindow; }
    VirtualClock &clock() const { return mClock; }

    // netMode 0 P2P, 1 star; role 0 ground, 1 airborne.
    KcRadioConfigItemForm *panel(int netMode = 0, int role = 0) const;
    // That panel's signals since the rig was built, as recordSignals writes them.
    QStringList &log(int netMode = 0, int role = 0) { return mLogs[netMode * 2 + role]; }
    // Configures with that panel (ConfigHarness::configure).
    bool configure(int netMode = 0, int role = 0);

private:
    VirtualClock &mClock;
    std::vector<std::unique_ptr<VirtualRadio>> mRadios;
    std::unique_ptr<MainWindow> mWindow; // after the radios: closes its ports first
    QStringList mLogs[4];
    bool mReady = true;
};
