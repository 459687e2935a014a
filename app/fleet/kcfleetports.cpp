#include "kcfleetports.h"

#include <QFileInfo>
#include <QMap>

#include <algorithm>

namespace KcFleetPorts {

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
            if (!listed && !QFileInfo::exists(KcSerialPorts::devicePath(radio.port)))
                problems.append({radio.line, QStringLiteral("no port %1").arg(radio.port)});
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
