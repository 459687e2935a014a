#include "kcradioprotocol.h"

namespace KcRadioProtocol {

const char *const Escape = "+++";
const char *const StoreCmd = "AT&W";
const char *const ListSettingsCmd = "AT&V";
const char *const DataModeCmd = "ATA";
const char *const AttentionCmd = "AT";
const char *const OkToken = "OK";
const char *const NoCarrierToken = "NO CARRIER";
const char *const ConnectToken = "CONNECT 115200";

QByteArray commandLine(const QString &commandText)
{
    QByteArray line = commandText.toLatin1();
    if (commandText != QLatin1String(Escape))
        line.append('\r');
    return line;
}

QString setRegisterCmd(int reg, const QString &value)
{
    return QStringLiteral("ATS%1=%2").arg(reg).arg(value);
}

QString setBaudRateCodeCmd(int code)
{
    return setRegisterCmd(102, QString::number(code));
}
QString setS103Cmd(int value)
{
    return setRegisterCmd(103, QString::number(value));
}
QString setRadioIdCmd(const QString &idText)
{
    return setRegisterCmd(104, idText);
}
QString setAirborneIndexCmd(int index)
{
    return setRegisterCmd(105, QString::number(index + 1));
}
QString setS113Cmd(int value)
{
    return setRegisterCmd(113, QString::number(value));
}

QString presetCmd(int netMode, int role, int radioType)
{
    if (netMode == Star)
        return role == Ground ? QStringLiteral("AT&F7") : QStringLiteral("AT&F8");
    if (radioType == MR240)
        return role == Ground ? QStringLiteral("AT&F6") : QStringLiteral("AT&F7");
    return role == Ground ? QStringLiteral("AT&F10") : QStringLiteral("AT&F11");
}

int baudRateCodeFor(int netMode, int radioType, int selectedCode)
{
    if (netMode == Star || radioType == MR240)
        return 1;
    return selectedCode;
}

int s103ValueFor(int netMode, int radioType, int baudRateCode)
{
    if (netMode == Star || radioType == MR240)
        return 1;
    return baudRateCode == 0 ? 2 : 0;
}

int s113ValueFor(int radioType)
{
    return radioType == MR300S ? 3 : 0;
}

int baudRateForCode(int code)
{
    static const int rates[] = {230400, 115200, 57600, 38400, 28800, 19200, 14400, 9600,
                                7200,   4800,   3600,  2400,  1200,  600,   300};
    if (code < 0 || code >= int(sizeof(rates) / sizeof(rates[0])))
        return 115200;
    return rates[code];
}

bool hasRadioBanner(const QByteArray &buffer)
{
    return buffer.contains("Welcome") && (buffer.contains("V300") || buffer.contains("Radio"));
}

} // namespace KcRadioProtocol
