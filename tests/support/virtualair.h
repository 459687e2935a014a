#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>

class KcRadioTimer;
class QSocketNotifier;
class VirtualRadio;

// The air between virtual radios. A radio in data mode hands what it hears
// on its serial line to the air as one packet per read (a real radio also
// sends what arrived before a pause); the packet waits in the sender's send
// buffer, goes out at the air rate, arrives delayMs later, and every other
// radio on the air that is in data mode and holds the sender's S104 passes it
// out on its own serial line. Loss and corruption are drawn per packet and
// per receiver. All timing runs on the radio timers' clock.
//
// Across processes (the virtualradio program): with a folder, the air also
// binds a UNIX datagram socket "<folder>/radio-<pid>-<n>.sock" and sends each
// packet that survived its own loss and corruption to every other socket in
// that folder, as "<S104>\n<bytes>". The receiving process hands it to its
// radios as if it came from one of its own.
class VirtualAir : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        int delayMs = 5;                    // from the end of sending to arrival
        int bytesPerSecond = 0;             // the air rate; 0: no limit
        int sendBufferBytes = 4096;         // a sender's queue; what does not fit is lost
        double lossProbability = 0.0;       // a packet never arrives
        double corruptionProbability = 0.0; // one byte of a packet changed
        quint32 seed = 0;                   // of the loss and corruption; 0: random
        QString folder;                     // shared with other processes
    };

    explicit VirtualAir(const Options &options, QObject *parent = nullptr);
    ~VirtualAir() override;

    // False when the folder's socket cannot be set up.
    bool start();
    void attach(VirtualRadio *radio);
    void detach(VirtualRadio *radio);

    // Called by a radio in data mode with the bytes it heard.
    void transmit(VirtualRadio *from, const QByteArray &bytes);

    qint64 packetsLost() const { return mPacketsLost; }
    qint64 packetsCorrupted() const { return mPacketsCorrupted; }
    qint64 bytesOverflowed() const { return mBytesOverflowed; }
    // Packets still queued or on their way.
    bool busy() const { return mInFlight > 0; }

signals:
    // A packet reached the receivers of this process (or was lost on the way).
    void packetArrived();

private:
    struct Sender
    {
        QList<QByteArray> queue;
        int queuedBytes = 0;
        KcRadioTimer *timer = nullptr; // busy while a packet is on the air
        QString id;
    };

    void sendNext(VirtualRadio *from);
    void arrive(const QString &id, const QByteArray &bytes, VirtualRadio *from);
    // The packet as one receiver gets it; empty when lost.
    QByteArray through(QByteArray bytes);
    void sendToFolder(const QString &id, const QByteArray &bytes);
    void onDatagram();

    Options mOptions;
    QList<VirtualRadio *> mRadios;
    QHash<VirtualRadio *, Sender> mSenders;
    QRandomGenerator mRandom;
    int mSocket = -1;
    QString mSocketPath;
    QSocketNotifier *mNotifier = nullptr;
    int mInFlight = 0;
    qint64 mPacketsLost = 0;
    qint64 mPacketsCorrupted = 0;
    qint64 mBytesOverflowed = 0;
};
