#pragma once

#include "kcreplytracker.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// What a configuration gives one radio.
struct KcRadioSettings
{
    int radioType = 0;     // 0 MR300, 1 MR240, 2 MR300S
    int netMode = 0;       // 0 P2P, 1 star
    int role = 0;          // 0 ground, 1 airborne
    int baudRateCode = 7;  // the chosen S102 code; used by P2P MR300 and MR300S
    QString radioId;       // the accepted ID digits, sent as they stand
    int airborneIndex = 1; // 1..100, star airborne only

    // 0 P2P ground, 1 P2P airborne, 2 star ground, 3 star airborne.
    int configKind() const { return netMode * 2 + role; }
};

// How a run of commands went, judged command by command.
struct KcCommandVerdict
{
    enum class Fault
    {
        None,
        Refused,    // the radio answered "ERROR"
        Unanswered, // no "OK" came before the next command
        NotSent     // the run ended before the command was written
    };

    bool ok = false;
    Fault fault = Fault::None;
    QString command; // the first command at fault
    // An unanswered command: an answer line ("OK" or "ERROR") came after its
    // wait had ended, in the window of a command written later. The radio
    // answers, but too late for its answers to be told apart.
    bool answeredLate = false;
    // An unanswered command: bytes that are no text came after its wait (an
    // answer sent at another rate reads as such).
    bool unreadableLater = false;
    // How long the command at fault was given, when its owner says so (0:
    // not said).
    int waitMs = 0;

    // One line for logs and messages: "ATS104=12 refused".
    QString describe() const;
};

// A register whose stored value differs from what was sent.
struct KcRegisterMismatch
{
    int reg = 0;
    QString expected;
    QString stored; // empty when the listing has no such entry
};

// The configuration of one radio, free of ports, timers and widgets, so that
// the window and the command-line program send the same commands and judge
// the replies the same way.
namespace KcConfigSequence {

// The commands after the escape, in the order they are written: preset, the
// registers, "AT&W", "ATA".
QStringList commands(const KcRadioSettings &settings);

// The command a run writes at a tick of its sequence timer, by step: step 0
// is the escape (entry recognised before any escape was written), steps 1..n
// the commands; nothing after the last one, when the verdict is due.
std::optional<QString> commandForStep(const KcRadioSettings &settings, int step);

// Every command up to and including "AT&W" was answered "OK" and none
// "ERROR"; "ATA" may go unanswered (the radio may just switch to data mode)
// but must not be refused. Only windows of the expected commands count, in
// the order they were written; the escape's window is ignored.
KcCommandVerdict judge(const QStringList &expected, const KcReplyTracker &replies);

// The last of the expected commands that the radio acknowledged in order
// before the first one at fault (empty when the first was at fault): what a
// configuration stopped part-way has changed in the radio.
QString lastAcknowledged(const QStringList &expected, const KcReplyTracker &replies);
// Whether the command loads one of the radio's presets ("AT&F10").
bool isPreset(const QString &command);
// What the radio holds after a configuration stopped once `command` was the
// last one acknowledged (empty: none was): "stopped after AT&F10: the radio
// holds that preset's settings, not its earlier ones".
QString stoppedAfterText(const QString &command);

// The registers a successful run leaves stored: S102 and S104, and S105 for a
// star airborne radio.
QList<QPair<int, QString>> expectedRegisters(const KcRadioSettings &settings);

// Whether a listed register value is the value meant: as numbers where both
// are numbers ("00305" is 305), else as text.
bool sameRegisterValue(const QString &listed, const QString &meant);

// Compares a radio's settings listing with what was sent. Values compare as
// numbers where both are numbers, else as text.
QList<KcRegisterMismatch> verify(const KcRadioSettings &settings, const QByteArray &listing);

} // namespace KcConfigSequence
