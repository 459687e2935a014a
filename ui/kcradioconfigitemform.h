#pragma once

#include "kcconfigsequence.h"
#include "kcportlistmerge.h"
#include "kcrunreport.h"
#include "kcwindowrecord.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class KcRadioCommandLink;
class KcPortList;
class KcPortWatch;
class KcRadioEraser;
class KcRadioParamReader;
class QMessageBox;
class KcRadioTimer;

namespace Ui {
class KcRadioConfigItemForm;
}

// The panel for one radio: its port, radio ID and baud rate, and the work on
// that radio (configuration, ID generation, read and erase).
class KcRadioConfigItemForm : public QWidget
{
    Q_OBJECT

public:
    explicit KcRadioConfigItemForm(QWidget *parent = nullptr);
    ~KcRadioConfigItemForm() override;

    void setupRole(int radioType, int netMode, int role);
    void setRadioType(int radioType);

    // The platform's serial ports, USB adapters first (see KcSerialPorts);
    // replaceable so that tests can offer a list with busy and free ports.
    using PortLister = std::function<QList<KcPortEntry>()>;
    static void setPortLister(PortLister lister);
    static QList<KcPortEntry> systemPorts();
    // Starts listing the system's ports on a worker thread, for the panels
    // set up next; the window calls it before it builds its widgets.
    static void prefetchPorts();
    // How often and how the panels' port lists follow the system's ports.
    static KcPortWatch *portWatch();

    int configKind() const { return mConfigKind; }
    // The port selected in the panel's list; empty while the list is empty.
    QString selectedPortName() const;
    int radioType() const { return mRadioType; }
    KcRadioCommandLink *link() const { return mLink; }

    // Whether the panel works on a radio: a configuration, read or erase
    // runs, or a port is still being given up.
    bool isWorking() const;
    // Ends the running configuration, read or erase as the window closes:
    // no further command goes out, a radio in command mode is sent back to
    // data mode by the link's release, and the run is recorded as aborted
    // (a configuration whose commands were all acknowledged as configured).
    // sigRunStopped() follows once the panel holds no port any more (within
    // this call when there was nothing to wait for).
    void stopRun();

signals:
    void sigRadioStartConfig();
    void sigRadioEndConfig();
    void sigGrdRadioIDChanged(QString idStr);
    void sigGrdRadioBaudRateChanged(int baudRateIndex);
    void sigGrdRadioConfigComplete(bool ok);
    void sigAirRadioConfigComplete(bool ok);
    void sigRunStopped();
    // Another port was selected in the list.
    void sigPortChosen();
    // The panel has given up its last port: it works no more.
    void sigPortsReleased();
    // A configuration, read or erase starts on this panel.
    void sigRunStarted();

public slots:
    void onGrdRadioIDChanged(QString idStr);
    void onGrdRadioBaudRateChanged(int baudRateIndex);

private slots:
    void on_btnSearch_clicked();
    void on_btnGenerateRadioID_clicked();
    void on_btnConfig_clicked();
    void onP2PGrdSendTimeout();
    void onP2PAirSendTimeout();
    void onStarGrdSendTimeout();
    void onStarAirSendTimeout();
    void on_btnRead_clicked();
    void on_btnEarse_clicked();
    void onRadioIDReady(bool isSucc, QString resultStr, QString idStr, int baudRateFlag);
    void onEarseRadioResult(bool isSucc);
    void on_btnQuit_clicked();

    void onCommandModeEntered();
    void onCommandModeGivenUp();
    void onOpenFailed(const QString &portName, const QString &reason);

    void onPortLost(const QString &portName);
    void onLinkReleased();

private:
    bool openSerialport();
    bool closeSerialPort();
    bool prepareConfig();
    void startCmdModeTimer();
    void endConfigRefused();
    void emitVerdict(bool ok);
    void runSequenceStep(int kind);
    void finishSequence(int kind);
    KcRadioTimer *sequenceTimer(int kind) const;
    KcRadioTimer *ensureSequenceTimer(int kind);
    void searchPorts();
    void fillPortList(const QList<KcPortEntry> &ports);
    QString portToolTip(const KcPortEntry &port) const;
    bool isPortListHeld() const;
    // Appends the run that just ended to the window's record.
    void recordRun(const QString &outcome, const QString &id);
    // Every command of the running configuration before its final "ATA"
    // was acknowledged.
    bool isConfigurationStored() const;
    // What a configuration stopped part-way leaves in the radio.
    KcRunReason stoppedReason() const;

    void startRun(KcRunReport::Kind kind, KcRadioCommandLink *link, int commands);
    void endRun(const KcRunReason &reason = KcRunReason());
    void showProgress(int value, int maximum, const QString &text);
    // The radio is sent back to data mode before the port goes: the panel
    // stays busy, and then runs whenReleased.
    void afterRelease(KcRadioCommandLink *link, std::function<void()> whenReleased);
    void endReturnedRun(const QString &outcome, const QString &id, KcRunReason reason);
    // A run that gave up with its port still open: the link sends the radio
    // back to data mode before the port goes. The tip and the reason show
    // now; the run ends (and then follows) once the port is given up.
    bool endsAfterReturn(KcRadioCommandLink *link, const QString &tip, const QString &outcome,
                         const QString &id, const KcRunReason &reason,
                         std::function<void()> then = nullptr);

    Ui::KcRadioConfigItemForm *ui;
    int mRadioType = 0;
    int mConfigKind = 0;
    int mNetMode = 0;
    int mRadioRole = 0;
    KcRadioCommandLink *mLink = nullptr;
    KcRadioSettings mRunSettings; // what the running configuration sends
    KcRadioTimer *mP2PGrdSendTimer = nullptr;
    KcRadioTimer *mP2PAirSendTimer = nullptr;
    KcRadioTimer *mStarGrdSendTimer = nullptr;
    KcRadioTimer *mStarAirSendTimer = nullptr;
    KcRadioParamReader *mParamReader = nullptr;
    KcRadioEraser *mRadioEraser = nullptr;
    QPointer<QMessageBox> mOpenFailureBox;
    QString mOpenError; // the system's words for the last port that did not open
    KcRunReport *mReport = nullptr;
    // A run that waits for its link to give the port up before it ends.
    KcRadioCommandLink *mAwaitedRelease = nullptr;
    std::function<void()> mAfterRelease;
    bool mStopping = false; // stopRun() waits for the ports to be given up
    KcPortList *mPortList = nullptr;
    KcWindowRecord mRecord;
};
