#pragma once

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
    explicit KcRadioEraser(QObject *parent = nullptr);
    ~KcRadioEraser() override;

    // Starts one erase on the named port. A port that cannot be opened is
    // reported before this returns. A start while an earlier erase is still
    // running takes the link over: the earlier erase reports nothing more.
    void earseRadio(const QString &portName);

    KcRadioCommandLink *link() const { return mLink; }

signals:
    void sigEarseRadioResult(bool isSucc);

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

    KcRadioCommandLink *mLink = nullptr;
    KcRadioTimer *mNormalCmdTimer = nullptr;
    bool mRunning = false;
    // Counts starts, so that work after a result can tell whether the
    // receiver of that result has already started the next erase.
    quint64 mStarts = 0;
};
