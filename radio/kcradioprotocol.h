#pragma once

#include <QByteArray>
#include <QString>

// The AT command dialect of the radios: command texts, line builders, the
// preset and register rules of the configuration sequences, and the reply
// tests. Plain functions, no port and no widget.
namespace KcRadioProtocol {

enum RadioType
{
    MR300 = 0,
    MR240 = 1,
    MR300S = 2
};
enum NetMode
{
    P2P = 0,
    Star = 1
};
enum RadioRole
{
    Ground = 0,
    Airborne = 1
};

// Command texts as they appear in mLastCmd (without the carriage return).
extern const char *const Escape;          // "+++"
extern const char *const StoreCmd;        // "AT&W"
extern const char *const ListSettingsCmd; // "AT&V"
extern const char *const DataModeCmd;     // "ATA"
extern const char *const AttentionCmd;    // "AT": answered "OK" in command mode

// Reply tokens.
extern const char *const OkToken;        // "OK"
extern const char *const NoCarrierToken; // "NO CARRIER"
extern const char *const ConnectToken;   // "CONNECT 115200"

// Bytes written for a command: the text followed by one CR, except the
// escape, which goes out as its three bytes alone.
QByteArray commandLine(const QString &commandText);

// "ATS<register>=<value>": value-carrying command texts (without CR).
QString setRegisterCmd(int reg, const QString &value);
QString setBaudRateCodeCmd(int code);         // ATS102=
QString setS103Cmd(int value);                // ATS103=
QString setRadioIdCmd(const QString &idText); // ATS104=
QString setAirborneIndexCmd(int index);       // ATS105=<index + 1>
QString setS113Cmd(int value);                // ATS113=

// The factory preset that starts a configuration sequence, e.g. "AT&F10".
QString presetCmd(int netMode, int role, int radioType);
// Baud-rate code written to S102 by a configuration.
int baudRateCodeFor(int netMode, int radioType, int selectedCode);
// Value of S103: P2P MR300/MR300S: 2 for code 0, else 0; MR240 and star: 1.
int s103ValueFor(int netMode, int radioType, int baudRateCode);
// Value of S113: 3 for the MR300S, 0 otherwise.
int s113ValueFor(int radioType);

// Serial rate for an S102 code; any unknown code stands for 115200.
int baudRateForCode(int code);

// The radio's power-on greeting: "Welcome" together with "V300" or "Radio".
bool hasRadioBanner(const QByteArray &buffer);

} // namespace KcRadioProtocol
