#pragma once

#include "kcconfigsequence.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

class KcConfigJob;
class KcRadioCommandLink;
class QTextStream;
struct KcLinkWatch;

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
        Erase
    };

    Command command = Command::None;
    QStringList ports; // one port, or ground and airborne for a pair
    KcRadioSettings settings;
    bool idGiven = false;
    bool verify = true;
    bool json = false;
    bool quiet = false;

    // Set instead of a command: text for stdout and the exit status.
    bool done = false;
    QString output;
    QString error; // a usage error, in one line
};

// Exit status of kcradio.
namespace KcCliExit {
constexpr int Success = 0;
constexpr int Refused = 1;    // the radio answered but refused, or verification failed
constexpr int Usage = 2;      // bad arguments; nothing was sent
constexpr int PortFailed = 3; // port missing, busy or not permitted
constexpr int Silent = 4;     // the radio never answered the escape
constexpr int Interrupted = 130;
} // namespace KcCliExit

// Reads the arguments (without the program name). Never touches a port.
KcCliRequest parseCliArguments(const QStringList &arguments);

// Runs one request on the event loop and ends it with the exit status.
class KcRadioCli : public QObject
{
    Q_OBJECT

public:
    KcRadioCli(const KcCliRequest &request, QTextStream &out, QTextStream &err,
               QObject *parent = nullptr);

    void start();
    // Ctrl-C or SIGTERM: stop now, radios back to data mode, ports released.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    void startConfiguration();
    void startRead();
    void startErase();
    void listPorts();
    // Reports the link's progress and remembers what tells failures apart.
    std::shared_ptr<KcLinkWatch> watchLink(KcRadioCommandLink *link, const QString &port);
    void onJobFinished();
    void progress(const QString &who, const QString &line);
    void finish(int exitCode, const QJsonObject &result, const QString &summary);
    QString roleName(int index) const;

    KcCliRequest mRequest;
    QTextStream &mOut;
    QTextStream &mErr;
    QList<QPointer<KcConfigJob>> mJobs;
    QList<QObject *> mRunning; // reader or eraser of a read or erase
    bool mInterrupted = false;
    bool mFinished = false;
};
