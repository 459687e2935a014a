#include "kcserialports.h"

#include <QSerialPortInfo>

namespace KcSerialPorts {

QList<KcPortEntry> list()
{
    QList<KcPortEntry> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        KcPortEntry entry{info.portName(), info.isBusy()};
        entry.description = info.description();
        entry.manufacturer = info.manufacturer();
        entry.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            entry.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            entry.productId = info.productIdentifier();
        ports.append(entry);
    }
    const QString extra = qEnvironmentVariable("KC_EXTRA_SERIAL_PORTS");
    for (const QString &path : extra.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        ports.append({path, false});
    return ports;
}

} // namespace KcSerialPorts
