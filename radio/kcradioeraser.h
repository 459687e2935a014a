#pragma once

#include "kccommandpacer.h"
#include "kcconfigsequence.h"

#include <QObject>
#include <QString>

class KcRadioCommandLink;
class KcRadioTimer;

// Erases one radio: brings it into command mode, then writes "ATS102=7",
// "AT&W" and "ATA" one step apart and judges the outcome from everything the
// radio sent back. Reports once through sigEarseRadioResult.
class KcRadioEraser : public QObject
{
    Q_OBJECT

public:
    // The commands an erase writes once command mode is entered: "ATS102=7",
    // "AT&W", "ATA".
    static constexpr int CommandsAfterEscape = 3;

    explicit KcRadioEraser(QObject *parent = nullptr);
    ~KcRadioEraser() override;

    // Starts one erase on the named port. A port that cannot be opened is
    // reported before this returns. A start while an earlier erase is still
    // running takes the link over: the earlier erase reports nothing more.
    void earseRadio(const QString &portName);

    KcRadioCommandLink *link() const { return mLink; }
    // Stops at once and reports nothing more: no further step is written, a
    // radio in command mode is sent back to data mode, and the link releases
    // the port (its portReleased() follows).
    void abort();
    // Paced by acknowledgement: escapes at the guard time, each step as soon
    // as the previous one is answered. The window's eraser keeps the fixed
    // cadence.
    void setCadence(KcCadence cadence);
    // The verdict on the last erase's commands; judged again once its port
    // is released, when an answer that came after its wait shows.
    KcCommandVerdict verdict() const { return mVerdict; }

signals:
    void sigEarseRadioResult(bool isSucc);
    // The verdict on the erase's commands; comes just before its
    // sigEarseRadioResult.
    void sigEraseVerdict(const KcCommandVerdict &verdict);

private slots:
    void onCommandModeEntered();
    void onCommandModeGivenUp();
    // One step of the erase sequence per tick of mNormalCmdTimer.
    void onNormalCmdSendTimeout();

private:
    void sendATS102_7Cmd();
    void sendATWCmd();
    void sendATACmd();
    void finish();
    KcCommandVerdict judgeSteps() const;

    KcRadioCommandLink *mLink = nullptr;
    KcRadioTimer *mNormalCmdTimer = nullptr;
    KcCommandPacer *mPacer = nullptr; // paced by acknowledgement only
    bool mRunning = false;
    KcCommandVerdict mVerdict;
};
