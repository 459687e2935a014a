#include "kcserialports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <signal.h>
#include <sys/stat.h>
#endif

namespace KcSerialPorts {

namespace {

bool portBusy(const QSerialPortInfo &info, const QString &lockDir)
{
#ifdef Q_OS_UNIX
    // Qt 6 no longer tells; the lock files say the same on both versions.
    return !lockDir.isEmpty() && isLockedIn(lockDir, info.portName());
#elif QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    Q_UNUSED(lockDir)
    return info.isBusy();
#else
    // No cheap way to tell without opening the port: offer it, and let a
    // failed open report the system's reason.
    Q_UNUSED(info)
    Q_UNUSED(lockDir)
    return false;
#endif
}

} // namespace

QList<Port> list()
{
    const QString lockDir = lockDirectory();
    QList<Port> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        Port port;
        port.name = info.portName();
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        port.hasUsbIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        port.vendorId = port.hasUsbIds ? info.vendorIdentifier() : 0;
        port.productId = port.hasUsbIds ? info.productIdentifier() : 0;
        port.busy = portBusy(info, lockDir);
        ports.append(port);
    }
    // Named paths are offered only while they exist (a pseudo-terminal comes
    // and goes), and are busy like any port when another program holds them.
    for (const QString &path : extraPaths()) {
        if (!QFileInfo::exists(path))
            continue;
        Port port;
        port.name = path;
        port.busy = !lockDir.isEmpty() && isLockedIn(lockDir, path);
        port.named = true;
        ports.append(port);
    }
    return offerOrder(ports);
}

QString deviceIdentity(const QString &portName)
{
    // A platform name (ttyUSB0) is the device under /dev; a path is followed
    // through its links, so two names of one device compare equal.
    const QString path = devicePath(portName);
#ifdef Q_OS_WIN
    const QString port = windowsPortName(path);
    if (!port.isEmpty())
        return port;
#endif
    const QString canonical = QFileInfo(path).canonicalFilePath();
#ifdef Q_OS_WIN
    // Windows file names are the same in any case.
    return (canonical.isEmpty() ? QDir::fromNativeSeparators(path) : canonical).toCaseFolded();
#else
    return canonical.isEmpty() ? path : canonical;
#endif
}

QString devicePath(const QString &portName)
{
#ifdef Q_OS_UNIX
    if (!portName.contains(QLatin1Char('/')))
        return QStringLiteral("/dev/") + portName;
#endif
    return portName;
}

QString windowsPortName(const QString &name)
{
    static const QRegularExpression port(
        QStringLiteral("^(?:[\\\\/]{2}[.?][\\\\/])?(COM[1-9][0-9]{0,2})$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = port.match(name);
    return match.hasMatch() ? match.captured(1).toUpper() : QString();
}

QList<Port> offerOrder(const QList<Port> &ports)
{
    QList<Port> ordered = ports;
    const auto named = std::stable_partition(ordered.begin(), ordered.end(),
                                             [](const Port &port) { return port.hasUsbIds; });
    std::stable_partition(named, ordered.end(), [](const Port &port) { return port.named; });
    return ordered;
}

QStringList extraPaths()
{
    return qEnvironmentVariable("KC_EXTRA_SERIAL_PORTS")
        .split(QDir::listSeparator(), Qt::SkipEmptyParts);
}

bool isLockedIn(const QString &lockDir, const QString &portName)
{
#ifdef Q_OS_UNIX
    // Device paths drop their "/dev/" and every name its slashes, as the
    // serial port's own locking spells them.
    QString name = portName;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QFile lock(lockDir + QLatin1String("/LCK..") + name);
    if (!lock.open(QIODevice::ReadOnly))
        return false;
    // The owner's process ID in decimal on the first line. A lock that says
    // nothing readable is taken at its word.
    const QByteArray firstLine = lock.readLine().trimmed();
    if (firstLine.isEmpty())
        return false;
    bool isNumber = false;
    const qint64 pid = firstLine.toLongLong(&isNumber);
    if (!isNumber || pid <= 0)
        return true;
    return !(::kill(pid_t(pid), 0) == -1 && errno == ESRCH);
#else
    Q_UNUSED(lockDir)
    Q_UNUSED(portName)
    return false;
#endif
}

QByteArray changeStamp(const QStringList &portNames)
{
#ifdef Q_OS_UNIX
    // The modification time of /dev moves when a device node is added or
    // removed. A named path counts by whether it exists (a terminal's own
    // times move with its traffic).
    QByteArray stamp;
    struct stat info = {};
    if (::stat("/dev", &info) == 0) {
#ifdef Q_OS_LINUX
        const qint64 nanoseconds = info.st_mtim.tv_nsec;
#else
        const qint64 nanoseconds = 0;
#endif
        stamp +=
            QByteArray::number(qint64(info.st_mtime)) + '.' + QByteArray::number(nanoseconds) + ';';
    }
    for (const QString &path : extraPaths())
        stamp += QFileInfo::exists(path) ? '1' : '0';
    stamp += ';';
    const QString lockDir = lockDirectory();
    for (const QString &name : portNames)
        stamp += !lockDir.isEmpty() && isLockedIn(lockDir, name) ? 'L' : '-';
    return stamp;
#else
    Q_UNUSED(portNames)
    return QByteArray();
#endif
}

QString lockDirectory()
{
#ifdef Q_OS_UNIX
    // The first of the usual places (/var/lock on Linux) that this process
    // may read and write.
    static const char *const candidates[] = {
        "/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
        "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock",
    };
    for (const char *candidate : candidates) {
        const QFileInfo dir(QString::fromLatin1(candidate));
        if (dir.isDir() && dir.isReadable() && dir.isWritable())
            return dir.filePath();
    }
#endif
    return QString();
}

} // namespace KcSerialPorts
