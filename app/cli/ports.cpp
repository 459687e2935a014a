// kcradio ports: the serial ports and what identifies each adapter.
#include "kcclicommand.h"

#include "kcserialports.h"

#include <QJsonArray>

namespace {

class PortsCommand : public KcCliCommand
{
public:
    using KcCliCommand::KcCliCommand;

    void start() override
    {
        QJsonArray array;
        QStringList lines;
        for (const KcSerialPorts::Port &port : KcSerialPorts::list()) {
            const QString usb = port.hasUsbIds ? QStringLiteral("%1:%2")
                                                     .arg(port.vendorId, 4, 16, QLatin1Char('0'))
                                                     .arg(port.productId, 4, 16, QLatin1Char('0'))
                                               : QString();
            array.append(QJsonObject{{QStringLiteral("name"), port.name},
                                     {QStringLiteral("description"), port.description},
                                     {QStringLiteral("manufacturer"), port.manufacturer},
                                     {QStringLiteral("serialNumber"), port.serialNumber},
                                     {QStringLiteral("usb"), usb},
                                     {QStringLiteral("busy"), port.busy}});
            QStringList details;
            for (const QString &detail :
                 {port.description, port.manufacturer, port.serialNumber, usb})
                if (!detail.isEmpty())
                    details << detail;
            lines << QStringLiteral("%1%2%3").arg(
                port.name,
                details.isEmpty() ? QString()
                                  : QStringLiteral("  ") + details.join(QStringLiteral(", ")),
                port.busy ? QStringLiteral("  (busy)") : QString());
        }
        finish(KcCliExit::Success, QJsonObject{{QStringLiteral("ports"), array}},
               lines.isEmpty() ? QStringLiteral("no serial ports") : lines.join(QLatin1Char('\n')));
    }
};

} // namespace

KcCliCommandEntry kcCliPortsCommand()
{
    KcCliCommandEntry entry;
    entry.command = KcCliRequest::Command::Ports;
    entry.name = QStringLiteral("ports");
    entry.synopsis = QStringLiteral("ports");
    entry.summary = QStringLiteral("list the serial ports and what identifies each adapter");
    entry.help = QStringLiteral("Usage: kcradio ports [--json]\n"
                                "Lists the serial ports: name, description, manufacturer, serial\n"
                                "number, USB vendor:product and whether the port is busy.\n");
    entry.parse = [](const QCommandLineParser &, KcCliRequest &request) {
        request.makeCommand = [](KcRadioCli *cli) { return new PortsCommand(cli); };
        return KcCliOptions::requirePorts(request, 0);
    };
    return entry;
}
