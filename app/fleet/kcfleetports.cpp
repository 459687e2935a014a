#include "kcfleetports.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
#endif

namespace KcFleetPorts {
namespace {

// Why a path that exists cannot be a serial port (a folder, a plain file),
// or empty when it can be one.
QString notAPort(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return QString();
    if (S_ISCHR(info.st_mode)) {
#ifdef Q_OS_LINUX
        // sysfs names the class of the character devices it knows (not the
        // pseudo-terminals): a serial port is of class tty, /dev/null of mem.
        const QString subsystem = QFileInfo(QStringLiteral("/sys/dev/char/%1:%2/subsystem")
                                                .arg(major(info.st_rdev))
                                                .arg(minor(info.st_rdev)))
                                      .canonicalFilePath();
        if (!subsystem.isEmpty() && !subsystem.endsWith(QLatin1String("/tty")))
            return QStringLiteral("a %1 device").arg(QFileInfo(subsystem).fileName());
#endif
        return QString();
    }
    return S_ISDIR(info.st_mode)   ? QStringLiteral("a folder")
           : S_ISREG(info.st_mode) ? QStringLiteral("a plain file")
                                   : QStringLiteral("no device");
#else
    // COM names are no files: opening the port tells.
    Q_UNUSED(path)
    return QString();
#endif
}

} // namespace

QList<Resolved> resolve(const QList<KcFleetRadio> &radios, const QList<KcSerialPorts::Port> &ports,
                        QList<KcFleetProblem> &problems)
{
    QList<Resolved> resolved;
    QMap<QString, const KcFleetRadio *> devices; // canonical path -> first radio on it
    for (const KcFleetRadio &radio : radios) {
        Resolved port;
        bool busy = false; // held by another program
        const QString serial = radio.adapterSerial();
        if (!serial.isEmpty()) {
            QStringList matches;
            for (const KcSerialPorts::Port &candidate : ports)
                if (candidate.serialNumber == serial)
                    matches << candidate.name;
            if (matches.isEmpty())
                problems.append({radio.line, QStringLiteral("no adapter with serial number %1 is "
                                                            "plugged in (kcradio ports lists "
                                                            "them)")
                                                 .arg(serial)});
            else if (matches.size() > 1)
                problems.append({radio.line, QStringLiteral("adapters %1 all report serial "
                                                            "number %2; name the port by its "
                                                            "path")
                                                 .arg(matches.join(QStringLiteral(", ")), serial)});
            else {
                port.path = KcSerialPorts::devicePath(matches.first());
                port.adapterSerial = serial;
                busy = busy ||
                       std::any_of(ports.cbegin(), ports.cend(),
                                   [&](const KcSerialPorts::Port &candidate) {
                                       return candidate.serialNumber == serial && candidate.busy;
                                   });
            }
        } else {
            bool listed = false;
            const QString canonical = KcSerialPorts::deviceIdentity(radio.port);
            for (const KcSerialPorts::Port &candidate : ports)
                if (KcSerialPorts::deviceIdentity(candidate.name) == canonical) {
                    listed = true;
                    port.adapterSerial = candidate.serialNumber;
                    busy = busy || candidate.busy;
                }
            // The ports the system lists are its serial devices; any other
            // path must be a character device.
            const QString why = listed ? QString() : notAPort(KcSerialPorts::devicePath(radio.port));
            if (!listed && !QFileInfo::exists(KcSerialPorts::devicePath(radio.port)))
                problems.append({radio.line, QStringLiteral("no port %1").arg(radio.port)});
            else if (!why.isEmpty())
                problems.append(
                    {radio.line,
                     QStringLiteral("%1 is %2, not a serial port").arg(radio.port, why)});
            else
                port.path = radio.port;
        }
        if (busy)
            problems.append(
                {radio.line,
                 QStringLiteral("%1 is busy: another program holds it").arg(port.path)});
        if (!port.path.isEmpty()) {
            const QString device = KcSerialPorts::deviceIdentity(port.path);
            if (const KcFleetRadio *other = devices.value(device))
                problems.append({radio.line, QStringLiteral("%1 is the port of line %2 (%3) "
                                                            "already")
                                                 .arg(radio.port)
                                                 .arg(other->line)
                                                 .arg(device)});
            else
                devices.insert(device, &radio);
        }
        resolved.append(port);
    }
    return resolved;
}

} // namespace KcFleetPorts
