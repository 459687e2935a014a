#pragma once

#include "kccommandpacer.h"

// The runner of kcradio: reads the command line, starts the one command it
// names and ends the run with that command's exit status. The commands live
// one per file beside this one (see kcclicommand.h); the runner knows them
// only through the table in kcradiocli.cpp.

#include "kcconfigsequence.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class KcCliCommand;
class KcRadioCli;
class QTextStream;

// What the command line asked for, checked before anything is sent.
struct KcCliRequest
{
    enum class Command
    {
        None,
        Ports,
        Read,
        Configure,
        Pair,
        Erase,
        Fleet,
        Check,
        Link
    };

    Command command = Command::None;
    QString name;      // the command's word, "pair"
    QStringList ports; // the positional arguments: one port, or ground and airborne for a pair
    KcRadioSettings settings;
    bool idGiven = false;
    bool verify = true;
    bool json = false;
    bool quiet = false;
    KcCadence cadence = KcCadence::Acknowledged;

    // Makes the command's run; set by the command's parser, which captures
    // whatever else it read.
    std::function<KcCliCommand *(KcRadioCli *cli)> makeCommand;

    // Set instead of a command: text for stdout and the exit status.
    bool done = false;
    QString output;
    QString error; // a usage error, in one line
};

// Exit status of kcradio.
namespace KcCliExit {
constexpr int Success = 0;
constexpr int Refused = 1;    // a command refused or unanswered, or verification failed
constexpr int Usage = 2;      // bad arguments; nothing was sent
constexpr int PortFailed = 3; // port missing, busy or not permitted
constexpr int Silent = 4;     // the radio never answered the escape
constexpr int Interrupted = 130;
} // namespace KcCliExit

// Reads the arguments (without the program name). Never touches a port.
KcCliRequest parseCliArguments(const QStringList &arguments);
// What a usage error prints on stdout with --json: one JSON object.
QByteArray usageErrorJson(const QString &error);

// Runs one request on the event loop and ends it with the exit status.
class KcRadioCli : public QObject
{
    Q_OBJECT

public:
    KcRadioCli(const KcCliRequest &request, QTextStream &out, QTextStream &err,
               QObject *parent = nullptr);
    ~KcRadioCli() override;

    void start();
    // Ctrl-C, SIGTERM or SIGHUP: stop now, radios back to data mode, ports released.
    void interrupt();

    const KcCliRequest &request() const { return mRequest; }
    bool isInterrupted() const { return mInterrupted; }
    QTextStream &out() { return mOut; }
    QTextStream &err() { return mErr; }

    // One progress line on stderr, "who: line"; nothing with --quiet.
    void progress(const QString &who, const QString &line);
    // Ends the run once: the result as JSON with --json, else the summary,
    // on stdout whatever the outcome.
    void finish(int exitCode, const QJsonObject &result, const QString &summary);

signals:
    void finished(int exitCode);

private:
    KcCliRequest mRequest;
    QTextStream &mOut;
    QTextStream &mErr;
    KcCliCommand *mCommand = nullptr;
    bool mInterrupted = false;
    bool mFinished = false;
};
