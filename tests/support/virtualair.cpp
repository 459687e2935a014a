#include "virtualair.h"

#include "kcradiotimer.h"
#include "virtualradio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QtDebug>

#include <cerrno>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int MaxDatagramBytes = 65536;

sockaddr_un socketAddress(const QString &path, bool &fits)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    fits = bytes.size() < int(sizeof(address.sun_path));
    if (fits)
        qstrncpy(address.sun_path, bytes.constData(), sizeof(address.sun_path));
    return address;
}

} // namespace

VirtualAir::VirtualAir(const Options &options, QObject *parent)
    : QObject(parent), mOptions(options),
      mRandom(options.seed ? options.seed : QRandomGenerator::system()->generate())
{
}

VirtualAir::~VirtualAir()
{
    for (VirtualRadio *radio : qAsConst(mRadios))
        radio->setAir(nullptr);
    if (mSocket >= 0) {
        ::close(mSocket);
        QFile::remove(mSocketPath);
    }
}

bool VirtualAir::start()
{
    if (mOptions.folder.isEmpty() || mSocket >= 0)
        return true;
    if (!QDir().mkpath(mOptions.folder))
        return false;
    static int count = 0;
    mSocketPath = QDir(mOptions.folder)
                      .filePath(QStringLiteral("radio-%1-%2.sock")
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(++count));
    bool fits = false;
    const sockaddr_un address = socketAddress(mSocketPath, fits);
    mSocket = fits ? ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0) : -1;
    if (mSocket < 0 ||
        ::bind(mSocket, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        qWarning() << "VirtualAir: cannot bind" << mSocketPath << qt_error_string(errno);
        return false;
    }
    mNotifier = new QSocketNotifier(mSocket, QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &VirtualAir::onDatagram);
    return true;
}

void VirtualAir::attach(VirtualRadio *radio)
{
    if (!mRadios.contains(radio))
        mRadios.append(radio);
    radio->setAir(this);
}

void VirtualAir::detach(VirtualRadio *radio)
{
    mRadios.removeAll(radio);
    auto it = mSenders.find(radio);
    if (it != mSenders.end()) {
        mInFlight -= it->queue.size();
        delete it->timer;
        mSenders.erase(it);
    }
    radio->setAir(nullptr);
}

void VirtualAir::transmit(VirtualRadio *from, const QByteArray &bytes)
{
    Sender &sender = mSenders[from];
    const int room = qMax(0, mOptions.sendBufferBytes - sender.queuedBytes);
    const QByteArray kept = bytes.left(room);
    mBytesOverflowed += bytes.size() - kept.size();
    if (kept.isEmpty())
        return;
    sender.queue.append(kept);
    sender.queuedBytes += kept.size();
    sender.id = from->registers().value(104);
    ++mInFlight;
    if (!sender.timer || !sender.timer->isActive())
        sendNext(from);
}

void VirtualAir::sendNext(VirtualRadio *from)
{
    Sender &sender = mSenders[from];
    if (sender.queue.isEmpty())
        return;
    const QByteArray packet = sender.queue.takeFirst();
    sender.queuedBytes -= packet.size();
    const int airtimeMs = mOptions.bytesPerSecond > 0
                              ? int(qint64(packet.size()) * 1000 / mOptions.bytesPerSecond)
                              : 0;
    if (!sender.timer) {
        sender.timer = new KcRadioTimer(this);
        sender.timer->setSingleShot(true);
        connect(sender.timer, &KcRadioTimer::timeout, this, [this, from]() { sendNext(from); });
    }
    sender.timer->start(airtimeMs);
    const QString id = sender.id;
    KcRadioTimer::singleShot(airtimeMs + mOptions.delayMs, this, [this, id, packet, from]() {
        --mInFlight;
        arrive(id, packet, mRadios.contains(from) ? from : nullptr);
        sendToFolder(id, packet);
    });
}

QByteArray VirtualAir::through(QByteArray bytes)
{
    if (mRandom.generateDouble() < mOptions.lossProbability) {
        ++mPacketsLost;
        return QByteArray();
    }
    if (mRandom.generateDouble() < mOptions.corruptionProbability) {
        // One byte becomes another letter; a frame start stays where it is,
        // so that the damage shows as a failed check rather than a loss.
        int at = int(mRandom.bounded(bytes.size()));
        for (int tries = 0; tries < bytes.size() && bytes.at(at) == '#'; ++tries)
            at = (at + 1) % bytes.size();
        const char was = bytes.at(at);
        char now = char('a' + mRandom.bounded(26));
        if (now == was)
            now = now == 'z' ? 'a' : char(now + 1);
        bytes[at] = now;
        ++mPacketsCorrupted;
    }
    return bytes;
}

void VirtualAir::arrive(const QString &id, const QByteArray &bytes, VirtualRadio *from)
{
    for (VirtualRadio *radio : qAsConst(mRadios)) {
        if (radio == from || !radio->hearsOnAir(id))
            continue;
        const QByteArray received = through(bytes);
        if (!received.isEmpty())
            radio->receiveFromAir(received);
    }
    emit packetArrived();
}

void VirtualAir::sendToFolder(const QString &id, const QByteArray &bytes)
{
    if (mSocket < 0)
        return;
    const QDir folder(mOptions.folder);
    for (const QString &name :
         folder.entryList({QStringLiteral("radio-*.sock")}, QDir::System | QDir::Files)) {
        const QString path = folder.filePath(name);
        if (path == mSocketPath)
            continue;
        const QByteArray datagram = id.toLatin1() + '\n' + through(bytes);
        if (datagram.endsWith('\n'))
            continue; // lost on the way
        bool fits = false;
        const sockaddr_un address = socketAddress(path, fits);
        if (fits &&
            ::sendto(mSocket, datagram.constData(), size_t(datagram.size()), 0,
                     reinterpret_cast<const sockaddr *>(&address), sizeof(address)) < 0 &&
            errno == ECONNREFUSED)
            QFile::remove(path); // left by a radio that is gone
    }
}

void VirtualAir::onDatagram()
{
    QByteArray buffer(MaxDatagramBytes, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::recv(mSocket, buffer.data(), size_t(buffer.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        const QByteArray datagram = buffer.left(int(n));
        const int newline = datagram.indexOf('\n');
        if (newline < 0)
            continue;
        const QString id = QString::fromLatin1(datagram.left(newline));
        const QByteArray bytes = datagram.mid(newline + 1);
        for (VirtualRadio *radio : qAsConst(mRadios))
            if (radio->hearsOnAir(id))
                radio->receiveFromAir(bytes);
    }
}
