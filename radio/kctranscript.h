#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class KcRadioCommandLink;

// The exchange with a radio in the words kcradio prints it: "> +++ at 115200
// baud" for an escape, "> ATS104=1" for a command, "< OK (21 ms)" for a reply
// line, an answer with the time since its command. Written here once for
// kcradio's progress and the window's diagnostics alike.
namespace KcTranscript {

// A command (or the escape) written at rate; outside command mode the escape
// and the "AT" probe name the rate they went out at.
QString written(const QString &command, int rate, bool inCommandMode);
// One reply line, bytes that are no text escaped (\xNN); an "OK" or "ERROR"
// with its round trip when roundTripMs >= 0.
QString received(const QByteArray &line, int roundTripMs = -1);

} // namespace KcTranscript

// Follows one link and logs its exchange line by line to the "kc.transcript"
// category with the port and its rate, e.g.
//   kc.transcript: /dev/ttyUSB0 (115200 baud): < OK (21 ms)
// A reply line is logged once its line end arrives; the round trip of an
// answer counts on the radio clock from the last command written.
class KcLinkTranscript : public QObject
{
    Q_OBJECT

public:
    // Logs link's exchange for as long as link lives (a child of it).
    static void follow(KcRadioCommandLink *link);

private:
    explicit KcLinkTranscript(KcRadioCommandLink *link);
    void onCommandWritten(const QString &command);
    void onChunk(const QByteArray &chunk);
    void log(const QString &line) const;

    KcRadioCommandLink *mLink;
    QByteArray mPartial;    // a reply line still without its end
    qint64 mWrittenAt = -1; // radio clock at the last command written
};
