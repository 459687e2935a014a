#include "kcfleetresume.h"

#include "kcradioprotocol.h"
#include "kcserialports.h"

namespace KcFleetResume {

bool isDone(const QList<KcFleetRecordEntry> &entries, const KcFleetRadio &radio, const QString &id,
            const QString &port)
{
    const QString serial = radio.adapterSerial();
    const QString device = KcSerialPorts::deviceIdentity(port);
    const KcFleetRecordEntry *latest = nullptr;
    for (const KcFleetRecordEntry &entry : entries) {
        const bool samePort = serial.isEmpty() ? KcSerialPorts::deviceIdentity(entry.port) == device
                                               : entry.adapterSerial == serial;
        if (entry.network == radio.network && entry.role == radio.role &&
            (!radio.isStarAirborne() || entry.index == radio.index) && samePort)
            latest = &entry;
    }
    if (!latest || !latest->isDone())
        return false;
    const int code =
        KcRadioProtocol::baudRateCodeFor(radio.netMode, radio.radioType, radio.baudRateCode);
    bool codeOk = false, idOk = false;
    return latest->radioType == radio.radioType && latest->netMode == radio.netMode &&
           latest->id.toULongLong(&idOk) == id.toULongLong() && idOk &&
           latest->registers.value(102).toInt(&codeOk) == code && codeOk;
}

} // namespace KcFleetResume
