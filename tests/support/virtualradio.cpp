#include "virtualradio.h"

#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "virtualair.h"
#include "virtualclock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QtDebug>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// How the simulated radio behaves:
//
// Framing. "+++" at the start of a command is the escape (no CR). Anything
// else is a line up to and including one CR; LF bytes are ignored (dropped at
// the start of a line, skipped inside it). A write that begins with "+++"
// ends a partial line, as the guard time before an escape would. A partial
// line longer than MaxPendingBytes is discarded, and so is a partial line
// when the line speed changes under it. Every framed command becomes one
// transcript entry; rawReceived() keeps every byte regardless.
//
// Hearing. Bytes are heard ("understood") only when the line speed the tool
// set equals the radio's rate at the moment they are read. Bytes not heard
// are recorded and otherwise ignored.
//
// Counting. Every heard transcript entry but an empty line (a lone CR, no
// command) counts as one command towards
// answerLimit and unplugAfterCommands, data lines in data mode included.
// Beyond answerLimit the radio is hung: it records but neither echoes,
// answers nor changes state.
//
// Modes. The radio powers up in data mode. There the escape switches to
// command mode and is answered per EscapeAnswer; other lines are data with no
// reply. In command mode "+++" answers OK and the AT commands below apply;
// an empty line is ignored, any other line not understood answers ERROR.
//
// Factory defaults, loaded by every preset "AT&F<n>" (n = 0..99) and held at
// power-up: S101=0 S102=1 S103=0 S104=0 S105=1 S108=30 S110=1 S113=0.
//
// Commands: "AT" OK; "AT&F<n>" preset; "AT&W" store; "AT&V" listing;
// "ATA" "CONNECT 115200" (after an OK with okBeforeConnect), data mode, and
// with ataChangesRate S102's rate becomes the radio's rate;
// "ATS<reg>=<value>" set (1 to 10 digits within the register's range, kept
// as typed); "ATS<reg>?" query. Register numbers above 999 are ERROR.
//
// Slowness. With replyDelayMs every reply leaves that long after the command
// (timed on the radio timers' clock); echo is not delayed. With
// startInCommandMode the radio powers up in command mode, as one left there by
// an earlier run: its escape answer is then a bare "OK".
//
// Echo writes heard bytes back as they arrive, ahead of any reply, in both
// modes. Replies go through one queue, so that chunked replies keep their
// order. Telemetry frames flow only in data mode, at the radio's line
// speed, and never in the middle of a reply.

namespace {

QList<VirtualRadio *> &liveRadioList()
{
    static QList<VirtualRadio *> radios;
    return radios;
}

const QByteArray Escape("+++");
const QByteArray Ok("\r\nOK\r\n");
const QByteArray Error("\r\nERROR\r\n");
const QByteArray Connect("\r\nCONNECT 115200\r\n");

constexpr int MaxPendingBytes = 4096;
// Room for the numbers that the radios of several test processes running at
// once leave vanished within VanishedHoldBackMs, with a margin.
constexpr int MaxHeldBackPtys = 64;
// How long the number of a vanished radio is not handed out again: longer
// than any tool keeps retrying a port that is gone (the program gives up
// after seven 2 s ticks; on the virtual clock the retries take no time).
constexpr qint64 VanishedHoldBackMs = 20000;
constexpr int MaxReadPerWakeup = 65536;
// Bounds of the test record, far beyond any test but finite for a CLI that
// runs for hours.
constexpr int MaxRawBytes = 16 * 1024 * 1024;
constexpr int MaxTranscriptEntries = 100000;
constexpr int TelemetryTickMs = 10;
constexpr int TelemetryMaxCatchUpMs = 200;

const QMap<int, QString> &factoryDefaults()
{
    static const QMap<int, QString> defaults{{101, "0"}, {102, "1"},  {103, "0"}, {104, "0"},
                                             {105, "1"}, {108, "30"}, {110, "1"}, {113, "0"}};
    return defaults;
}

// Largest value each register takes; registers not listed take 0..65535.
quint64 registerMaximum(int reg)
{
    switch (reg) {
    case 102:
        return 14;
    case 103:
    case 113:
        return 9;
    case 104:
        return 4294967295ULL;
    case 105:
        return 255;
    default:
        return 65535;
    }
}

bool isDigits(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int rateFromSpeedCode(speed_t code)
{
    switch (code) {
    case B50:
        return 50;
    case B75:
        return 75;
    case B110:
        return 110;
    case B134:
        return 134;
    case B150:
        return 150;
    case B200:
        return 200;
    case B300:
        return 300;
    case B600:
        return 600;
    case B1200:
        return 1200;
    case B1800:
        return 1800;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
#ifdef B57600
    case B57600:
        return 57600;
#endif
#ifdef B115200
    case B115200:
        return 115200;
#endif
#ifdef B230400
    case B230400:
        return 230400;
#endif
#ifdef B460800
    case B460800:
        return 460800;
#endif
#ifdef B500000
    case B500000:
        return 500000;
#endif
#ifdef B576000
    case B576000:
        return 576000;
#endif
#ifdef B921600
    case B921600:
        return 921600;
#endif
#ifdef B1000000
    case B1000000:
        return 1000000;
#endif
#ifdef B1152000
    case B1152000:
        return 1152000;
#endif
#ifdef B1500000
    case B1500000:
        return 1500000;
#endif
#ifdef B2000000
    case B2000000:
        return 2000000;
#endif
#ifdef B2500000
    case B2500000:
        return 2500000;
#endif
#ifdef B3000000
    case B3000000:
        return 3000000;
#endif
#ifdef B3500000
    case B3500000:
        return 3500000;
#endif
#ifdef B4000000
    case B4000000:
        return 4000000;
#endif
    default:
        return 0;
    }
}

#ifdef __linux__
// A rate without a Bxxx constant (28800, say) is set with the kernel's
// termios2 and the BOTHER code; glibc's termios.h knows neither, so the
// kernel layout is spelled out here.
struct KernelTermios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
constexpr speed_t KernelBOther = 0010000;

int customRate(int fd)
{
    KernelTermios2 tio{};
    if (::ioctl(fd, _IOR('T', 0x2A, KernelTermios2), &tio) != 0)
        return 0;
    return int(tio.c_ospeed);
}
#endif

// Numbers of ptys whose radio was unplugged lately, shared by all processes
// through marker files: "<temp>/kcvirtualradio-vanished/pts_7".
QString vanishedMarker(const QString &slavePath)
{
    if (!slavePath.startsWith(QLatin1String("/dev/pts/")))
        return QString();
    return QDir::tempPath() + QLatin1String("/kcvirtualradio-vanished/pts_") + slavePath.mid(9);
}

void markVanished(const QString &slavePath)
{
    const QString marker = vanishedMarker(slavePath);
    if (marker.isEmpty() || !QDir().mkpath(QFileInfo(marker).path()))
        return;
    QFile file(marker);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
}

bool vanishedRecently(const QString &slavePath)
{
    const QString marker = vanishedMarker(slavePath);
    if (marker.isEmpty())
        return false;
    QFile file(marker);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 when = file.readAll().trimmed().toLongLong();
    const qint64 age = QDateTime::currentMSecsSinceEpoch() - when;
    if (age >= 0 && age < VanishedHoldBackMs)
        return true;
    file.close();
    file.remove(); // old news
    return false;
}

// A pty master with its slave unlocked; the slave path goes into name.
int openPseudoTerminal(char *name, size_t size)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0) {
        qWarning() << "VirtualRadio::start posix_openpt failed:" << qt_error_string(errno);
        return -1;
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    // Left locked: until unlockpt() nobody can open the slave, so a number
    // that is held back below never answers a tool still retrying it.
    if (::grantpt(master) != 0 || ::ptsname_r(master, name, size) != 0) {
        qWarning() << "VirtualRadio::start pty setup failed:" << qt_error_string(errno);
        ::close(master);
        return -1;
    }
    return master;
}

// Whether a live process holds the UUCP-style lock file that QSerialPort
// takes for this port ("LCK..pts_7" for "/dev/pts/7").
bool isLockedByLiveProcess(const QString &slavePath)
{
    static const char *const lockDirectories[] = {
        "/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
        "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};
    QString portName = slavePath;
    if (portName.startsWith(QLatin1String("/dev/")))
        portName.remove(0, 5);
    const QString fileName =
        QLatin1String("/LCK..") + portName.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *directory : lockDirectories) {
        const QString path = QLatin1String(directory) + fileName;
        if (!QFile::exists(path))
            continue;
        qint64 pid = 0;
        QString hostName;
        QString appName;
        if (QLockFile(path).getLockInfo(&pid, &hostName, &appName) && pid > 0 &&
            (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
            return true;
    }
    return false;
}

QByteArray escapeAnswerFor(VirtualRadio::EscapeAnswer answer)
{
    switch (answer) {
    case VirtualRadio::EscapeAnswer::NoCarrier:
        return QByteArrayLiteral("\r\nNO CARRIER\r\nOK\r\n");
    case VirtualRadio::EscapeAnswer::Greeting:
        return QByteArrayLiteral("\r\nWelcome to the Data-link Radio V300\r\nOK\r\n");
    case VirtualRadio::EscapeAnswer::OkOnly:
        return Ok;
    case VirtualRadio::EscapeAnswer::Silence:
        break;
    }
    return QByteArray();
}

} // namespace

VirtualRadio::VirtualRadio(QObject *parent) : VirtualRadio(Options(), parent) {}

VirtualRadio::VirtualRadio(const Options &options, QObject *parent)
    : QObject(parent), mOptions(options), mRegisters(factoryDefaults()), mStored(factoryDefaults()),
      mCommandMode(options.startInCommandMode)
{
    mChunkTimer = new QTimer(this);
    mChunkTimer->setSingleShot(true);
    connect(mChunkTimer, &QTimer::timeout, this, &VirtualRadio::writeNextPiece);
    // Gaps between pieces pass on the radio timers' clock, as the tool's
    // own waits do: on a virtual clock a piece is due at its virtual time.
    mPieceGapTimer = new KcRadioTimer(this);
    mPieceGapTimer->setSingleShot(true);
    connect(mPieceGapTimer, &KcRadioTimer::timeout, this, &VirtualRadio::writeNextPiece);

    mTelemetryTimer = new QTimer(this);
    mTelemetryTimer->setInterval(TelemetryTickMs);
    connect(mTelemetryTimer, &QTimer::timeout, this, &VirtualRadio::sendTelemetry);
    liveRadioList().append(this);
}

VirtualRadio::~VirtualRadio()
{
    if (mAir)
        mAir->detach(this);
    liveRadioList().removeOne(this);
    closeLine(false);
}

QList<VirtualRadio *> VirtualRadio::liveRadios()
{
    return liveRadioList();
}

VirtualRadio::LineActivity VirtualRadio::lineActivity() const
{
    LineActivity activity;
    // A gap on a virtual clock passes only once the line is at rest.
    const bool virtualGap = mPieceGapTimer->isActive() && KcRadioTiming::clock();
    activity.replying = (!mOutQueue.isEmpty() && !virtualGap) || mChunkTimer->isActive();
    activity.streaming = mTelemetryTimer->isActive() && !mCommandMode;
    activity.bytesReceived = mBytesReceived;
    activity.bytesWritten = mBytesWritten;
    if (mMaster < 0)
        return activity;
    // poll() on a pty with nothing to read first waits for the kernel to
    // deliver the bytes still in flight towards that descriptor.
    pollfd master{mMaster, POLLIN, 0};
    activity.toolBytesWaiting = ::poll(&master, 1, 0) > 0 && (master.revents & POLLIN);
    pollfd slave{mSlave, POLLIN, 0};
    ::poll(&slave, 1, 0);
    int queued = 0;
    if (::ioctl(mSlave, FIONREAD, &queued) == 0)
        activity.bytesForTool = queued;
    return activity;
}

bool VirtualRadio::start()
{
    if (mMaster >= 0)
        return true;

    // The kernel hands out the lowest free pty number. A number whose radio
    // vanished lately may still be retried by the tool that used it (in this
    // or another test process), and one whose serial-port lock file a live
    // process holds cannot be opened: such numbers are held back while
    // another one is taken.
    QList<int> heldBack;
    char name[128] = {};
    int master = -1;
    while (master < 0) {
        const int candidate = openPseudoTerminal(name, sizeof(name));
        if (candidate < 0)
            break;
        const QString path = QString::fromLocal8Bit(name);
        // Past the limit any number is better than none.
        if (heldBack.size() < MaxHeldBackPtys &&
            (vanishedRecently(path) || isLockedByLiveProcess(path)))
            heldBack.append(candidate);
        else
            master = candidate;
    }
    for (const int fd : qAsConst(heldBack))
        ::close(fd);
    if (master < 0) {
        qWarning() << "VirtualRadio::start: no usable pseudo-terminal";
        return false;
    }
    if (::unlockpt(master) != 0) {
        qWarning() << "VirtualRadio::start unlockpt failed:" << qt_error_string(errno);
        ::close(master);
        return false;
    }
    // Our own slave descriptor keeps the pty alive while the tool has its port
    // closed; it is never read.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        qWarning() << "VirtualRadio::start cannot open" << name << qt_error_string(errno);
        ::close(master);
        return false;
    }
    // Raw from the start, so that nothing the tool writes is echoed by the
    // line discipline before the tool sets its own settings.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
    }

    mMaster = master;
    mSlave = slave;
    mSlavePath = QString::fromLocal8Bit(name);
    mPending.clear();
    mPendingSpeed = -1;
    if (!mClock.isValid())
        mClock.start();
    if (mVirtualStart < 0 && VirtualClock::active())
        mVirtualStart = VirtualClock::active()->now();

    mNotifier = new QSocketNotifier(mMaster, QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &VirtualRadio::onReadable);
    updateTelemetryTimer();
    return true;
}

QString VirtualRadio::portPath() const
{
    return mSlavePath;
}

void VirtualRadio::setTelemetryBytesPerSecond(int bytesPerSecond)
{
    mOptions.telemetryBytesPerSecond = qMax(0, bytesPerSecond);
    updateTelemetryTimer();
}

void VirtualRadio::sendUnsolicited(const QByteArray &bytes)
{
    writeToLine(bytes);
}

QList<QByteArray> VirtualRadio::commands() const
{
    QList<QByteArray> result;
    result.reserve(mTranscript.size());
    for (const Received &entry : mTranscript)
        if (entry.bytes != "\r") // an empty line is no command
            result.append(entry.bytes);
    return result;
}

void VirtualRadio::clearTranscript()
{
    mTranscript.clear();
    mRaw.clear();
}

int VirtualRadio::currentLineSpeed() const
{
    if (mSlave < 0)
        return 0;
    termios tio{};
    if (::tcgetattr(mSlave, &tio) != 0)
        return 0;
    const speed_t code = ::cfgetospeed(&tio);
#ifdef __linux__
    if (code == KernelBOther)
        return customRate(mSlave);
#endif
    return rateFromSpeedCode(code);
}

void VirtualRadio::unplug()
{
    closeLine(true);
}

void VirtualRadio::closeLine(bool vanished)
{
    if (vanished && mMaster >= 0)
        markVanished(mSlavePath);
    if (mNotifier) {
        // May run inside the notifier's own activation: delete it later.
        mNotifier->setEnabled(false);
        mNotifier->deleteLater();
        mNotifier = nullptr;
    }
    mChunkTimer->stop();
    mPieceGapTimer->stop();
    mTelemetryTimer->stop();
    mOutQueue.clear();
    mPending.clear();
    if (mMaster >= 0) {
        ::close(mMaster);
        mMaster = -1;
    }
    if (mSlave >= 0) {
        ::close(mSlave);
        mSlave = -1;
    }
}

bool VirtualRadio::isUnplugged() const
{
    return mMaster < 0;
}

int VirtualRadio::rateForBaudRateCode(int code)
{
    static const int rates[] = {230400, 115200, 57600, 38400, 28800, 19200, 14400, 9600,
                                7200,   4800,   3600,  2400,  1200,  600,   300};
    if (code < 0 || code >= int(sizeof(rates) / sizeof(rates[0])))
        return 0;
    return rates[code];
}

void VirtualRadio::onReadable()
{
    if (mMaster < 0)
        return;

    QByteArray chunk;
    char buffer[4096];
    while (chunk.size() < MaxReadPerWakeup) {
        const ssize_t n = ::read(mMaster, buffer, sizeof(buffer));
        if (n > 0) {
            chunk.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && chunk.isEmpty()) {
            // Cannot happen while our own slave descriptor is open; stop
            // listening rather than spin on a level-triggered error.
            qWarning() << "VirtualRadio::onReadable read failed:" << qt_error_string(errno);
            if (mNotifier)
                mNotifier->setEnabled(false);
        }
        break;
    }
    if (chunk.isEmpty())
        return;
    mBytesReceived += chunk.size();

    // The speed is read now: the tool may have reopened its port at another
    // rate since the last bytes.
    const int speed = currentLineSpeed();
    const bool understood = speed == mOptions.baudRate;

    mRaw.append(chunk);
    if (mRaw.size() > MaxRawBytes)
        mRaw.remove(0, mRaw.size() - MaxRawBytes);

    if (speed != mPendingSpeed) {
        mPending.clear();
        mPendingSpeed = speed;
    }
    if (!mPending.isEmpty() && chunk.startsWith(Escape))
        mPending.clear();

    if (understood && mOptions.echo && answering())
        reply(chunk);
    // Data mode: what the tool sends goes on the air, up to a '+' that may
    // begin an escape.
    if (understood && mAir && !mCommandMode && answering()) {
        const QByteArray data =
            chunk.left(chunk.indexOf('+') < 0 ? chunk.size() : chunk.indexOf('+'));
        if (!data.isEmpty())
            mAir->transmit(this, data);
    }

    mPending.append(chunk);
    const QList<QByteArray> framed = takeCommands();
    for (const QByteArray &command : framed) {
        const bool counts = understood && command != "\r"; // an empty line counts for nothing
        if (counts && mOptions.unplugAfterCommands >= 0 &&
            mCommandsSeen >= mOptions.unplugAfterCommands) {
            unplug();
            return;
        }
        record(command, speed, understood);
        const Received entry = mTranscript.last();
        if (counts) {
            ++mCommandsSeen;
            if (mOptions.answerLimit < 0 || mCommandsSeen <= mOptions.answerLimit)
                handleCommand(command, speed);
            if (mOptions.unplugAfterCommands >= 0 && mCommandsSeen >= mOptions.unplugAfterCommands)
                unplug();
        }
        emit commandReceived(command, speed);
        emit transcriptEntryAdded(entry);
        if (mMaster < 0)
            return; // unplugged: the rest of the chunk is lost with the line
    }
}

QList<QByteArray> VirtualRadio::takeCommands()
{
    QList<QByteArray> result;
    for (;;) {
        int start = 0;
        while (start < mPending.size() && mPending.at(start) == '\n')
            ++start;
        if (start > 0)
            mPending.remove(0, start);
        if (mPending.isEmpty())
            break;
        if (mPending.startsWith(Escape)) {
            result.append(Escape);
            mPending.remove(0, Escape.size());
            continue;
        }
        if (Escape.startsWith(mPending))
            break; // "+" or "++": wait for the rest of a possible escape
        const int cr = mPending.indexOf('\r');
        if (cr < 0) {
            if (mPending.size() > MaxPendingBytes)
                mPending.clear();
            break;
        }
        result.append(mPending.left(cr + 1));
        mPending.remove(0, cr + 1);
    }
    return result;
}

void VirtualRadio::record(const QByteArray &bytes, int lineSpeed, bool understood)
{
    Received entry;
    if (mVirtualStart >= 0 && VirtualClock::active())
        entry.msecs = VirtualClock::active()->now() - mVirtualStart;
    else
        entry.msecs = mClock.isValid() ? mClock.elapsed() : 0;
    entry.bytes = bytes;
    entry.lineSpeed = lineSpeed;
    entry.understood = understood;
    mTranscript.append(entry);
    while (mTranscript.size() > MaxTranscriptEntries)
        mTranscript.removeFirst();
}

bool VirtualRadio::answering() const
{
    return mOptions.answerLimit < 0 || mCommandsSeen < mOptions.answerLimit;
}

void VirtualRadio::leaveDataMode()
{
    mCommandMode = true;
    reply(escapeAnswerBytes());
}

void VirtualRadio::handleCommand(const QByteArray &command, int lineSpeed)
{
    Q_UNUSED(lineSpeed)
    if (command == Escape) {
        if (mCommandMode) {
            reply(Ok);
            return;
        }
        mCommandMode = true;
        reply(mOptions.dataBeforeEscapeAnswer + escapeAnswerBytes() + mOptions.afterEscapeAnswer);
        return;
    }
    if (!mCommandMode)
        return; // data for the air link
    QByteArray line = command;
    line.replace('\n', QByteArray());
    if (line.endsWith('\r'))
        line.chop(1);
    handleLine(line);
}

void VirtualRadio::handleLine(const QByteArray &line)
{
    if (line.isEmpty())
        return;
    if (line.size() < 2 || line.left(2).toUpper() != "AT") {
        reply(Error);
        return;
    }
    const QByteArray body = line.mid(2).toUpper();
    if (mOptions.refuseCommand == "*" ||
        (!mOptions.refuseCommand.isEmpty() && line.toUpper() == mOptions.refuseCommand.toUpper())) {
        reply(mOptions.refusal);
    } else if (body.isEmpty()) {
        reply(Ok);
    } else if (body.startsWith("&F")) {
        const QByteArray number = body.mid(2);
        if (number.isEmpty() || (isDigits(number) && number.size() <= 2)) {
            loadPreset(number.isEmpty() ? 0 : number.toInt());
            reply(Ok);
        } else {
            reply(Error);
        }
    } else if (body == "&W") {
        mStored = mRegisters;
        reply(Ok);
    } else if (body == "&V") {
        reply(settingsListing());
    } else if (body == "A") {
        const QByteArray answer = mOptions.ataAnswer == DataModeAnswer::Connect  ? Connect
                                  : mOptions.ataAnswer == DataModeAnswer::OkOnly ? Ok
                                                                                 : QByteArray();
        reply(mOptions.okBeforeConnect ? Ok + answer : answer);
        mCommandMode = false;
        if (mOptions.ataChangesRate) {
            bool ok = false;
            const int rate = rateForBaudRateCode(mRegisters.value(102).toInt(&ok));
            if (ok && rate > 0)
                mOptions.baudRate = rate;
        }
    } else if (body.startsWith('S')) {
        setRegisterCommand(body.mid(1));
    } else {
        reply(Error);
    }
}

void VirtualRadio::setRegisterCommand(const QByteArray &body)
{
    if (body.endsWith('?')) {
        const QByteArray number = body.left(body.size() - 1);
        if (!isDigits(number) || number.size() > 4 || number.toInt() > 999) {
            reply(Error);
            return;
        }
        reply("\r\n" + mRegisters.value(number.toInt(), "0").toLatin1() + "\r\nOK\r\n");
        return;
    }
    const int eq = body.indexOf('=');
    if (eq < 0) {
        reply(Error);
        return;
    }
    const QByteArray number = body.left(eq);
    const QByteArray value = body.mid(eq + 1);
    if (!isDigits(number) || number.size() > 4 || number.toInt() > 999 || !isDigits(value) ||
        value.size() > 10) {
        reply(Error);
        return;
    }
    const int reg = number.toInt();
    if (value.toULongLong() > registerMaximum(reg)) {
        reply(Error);
        return;
    }
    // Kept as typed: a radio ID "00567" lists as "00567".
    if (!mOptions.unstoredRegisters.contains(reg))
        mRegisters[reg] = QString::fromLatin1(value);
    reply(Ok);
}

void VirtualRadio::loadPreset(int preset)
{
    mRegisters = factoryDefaults();
    mLoadedPreset = preset;
}

QByteArray VirtualRadio::settingsListing() const
{
    // "\r\nS101=0 S102=1 S103=0 S104=0\r\n S105=1 ...\r\nOK\r\n": blanks
    // between entries, a line break before the blank after every fourth.
    QByteArray listing("\r\n");
    int index = 0;
    for (auto it = mRegisters.cbegin(); it != mRegisters.cend(); ++it, ++index) {
        if (index > 0)
            listing += (index % 4 == 0) ? "\r\n " : " ";
        listing += 'S' + QByteArray::number(it.key()) + '=' + it.value().toLatin1();
    }
    listing += "\r\nOK\r\n";
    return listing;
}

QByteArray VirtualRadio::escapeAnswerBytes() const
{
    return escapeAnswerFor(mOptions.escapeAnswer);
}

void VirtualRadio::reply(const QByteArray &answer, bool heldBack)
{
    if (answer.isEmpty() || mMaster < 0)
        return;
    if (mOptions.replyDelayMs > 0 && !heldBack) {
        // A slow radio: the answer leaves after the delay, on the clock of the
        // tool's own timers, so a virtual clock moves it exactly.
        KcRadioTimer::singleShot(mOptions.replyDelayMs, this,
                                 [this, answer]() { reply(answer, true); });
        return;
    }
    QByteArray bytes = answer;
    if (mOptions.lineEnd != "\r\n")
        bytes.replace("\r\n", mOptions.lineEnd);
    if (mOptions.chunkSize <= 0 && mOutQueue.isEmpty()) {
        writeNow(bytes);
        return;
    }
    if (mOptions.chunkSize <= 0) {
        mOutQueue.append(bytes);
    } else {
        for (int at = 0; at < bytes.size(); at += mOptions.chunkSize)
            mOutQueue.append(bytes.mid(at, mOptions.chunkSize));
    }
    if (!mChunkTimer->isActive() && !mPieceGapTimer->isActive())
        writeNextPiece();
}

void VirtualRadio::writeNextPiece()
{
    if (mOutQueue.isEmpty())
        return;
    writeNow(mOutQueue.takeFirst());
    if (!mOutQueue.isEmpty() && mOptions.chunkGapMs > 0)
        mPieceGapTimer->start(mOptions.chunkGapMs);
    else if (!mOutQueue.isEmpty())
        mChunkTimer->start(0);
}

void VirtualRadio::writeNow(const QByteArray &bytes)
{
    // Framed at another speed, every byte reads as something else.
    QByteArray line = bytes;
    if (mOptions.garbledAtOtherSpeeds && currentLineSpeed() != mOptions.baudRate)
        for (char &byte : line)
            byte = char(byte | 0x80);
    writeToLine(line);
}

qint64 VirtualRadio::writeToLine(const QByteArray &bytes)
{
    if (mMaster < 0)
        return 0;
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(mMaster, bytes.constData() + written, size_t(bytes.size() - written));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: a full line drops what nobody reads
    }
    mBytesWritten += written;
    mDroppedBytes += bytes.size() - written;
    return written;
}

void VirtualRadio::updateTelemetryTimer()
{
    if (mMaster >= 0 && mOptions.telemetryBytesPerSecond > 0) {
        if (!mTelemetryTimer->isActive()) {
            mTelemetryClock.start();
            mTelemetryCarry = 0.0;
            mTelemetryTimer->start();
        }
    } else {
        mTelemetryTimer->stop();
    }
}

void VirtualRadio::sendTelemetry()
{
    if (mMaster < 0 || mOptions.telemetryBytesPerSecond <= 0) {
        mTelemetryTimer->stop();
        return;
    }
    const qint64 elapsed = qMin<qint64>(mTelemetryClock.restart(), TelemetryMaxCatchUpMs);
    // Stream only in data mode, after any reply still being written, and only
    // while the tool's line runs at the radio's rate.
    if (mCommandMode || !mOutQueue.isEmpty() || currentLineSpeed() != mOptions.baudRate) {
        // A paused stream resumes with a whole frame.
        mTelemetryCarry = 0.0;
        mTelemetryFrame.clear();
        return;
    }
    const double due =
        mTelemetryCarry + double(mOptions.telemetryBytesPerSecond) * elapsed / 1000.0;
    const int count = int(due);
    mTelemetryCarry = due - count;
    if (count <= 0)
        return;
    while (mTelemetryFrame.size() < count)
        mTelemetryFrame += nextTelemetryFrame();
    const QByteArray piece = mTelemetryFrame.left(count);
    mTelemetryFrame.remove(0, count);
    mTelemetrySent += writeToLine(piece);
}

QByteArray VirtualRadio::nextTelemetryFrame()
{
    // "$TLM,<seq>,<altitude>,<speed>,<rssi>,<voltage>*<xx>\r\n". Besides
    // "TLM" only digits, ',', '-', '$', '*' and lower-case hex appear, so no
    // reply token of the radio can show up, not even where dropped bytes
    // join two frames.
    const quint32 seq = mTelemetrySeq++;
    const QByteArray payload =
        "TLM," + QByteArray::number(seq) + ',' + QByteArray::number(1000 + (seq * 37) % 500) + ',' +
        QByteArray::number((seq * 13) % 90) + ',' + QByteArray::number(-40 - int(seq % 50)) + ',' +
        QByteArray::number(11000 + (seq * 7) % 1600);
    quint8 checksum = 0;
    for (const char c : payload)
        checksum ^= quint8(c);
    return '$' + payload + '*' + QByteArray::number(checksum, 16).rightJustified(2, '0') + "\r\n";
}

bool VirtualRadio::hearsOnAir(const QString &id) const
{
    bool ours = false;
    bool theirs = false;
    const qulonglong own = mRegisters.value(104).toULongLong(&ours);
    return mMaster >= 0 && !mCommandMode && ours && own == id.toULongLong(&theirs) && theirs;
}

void VirtualRadio::receiveFromAir(const QByteArray &bytes)
{
    if (currentLineSpeed() != mOptions.baudRate)
        return;
    mAirBytesOut += writeToLine(bytes);
}
