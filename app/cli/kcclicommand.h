#pragma once

// What a kcradio command is made of: a table entry (its word, help, options
// and parser) and a run on the runner. Each command has a file of its own in
// this folder and reads nothing of the others; what several share (the
// radio options, the link watch, exit codes of a job) lives here.

#include "kcconfigjob.h"
#include "kclinktest.h"
#include "kcradiocli.h"

#include <QCommandLineOption>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <memory>

class KcRadioCommandLink;
class QCommandLineParser;

// One command as the runner sees it before anything runs.
struct KcCliCommandEntry
{
    KcCliRequest::Command command = KcCliRequest::Command::None;
    QString name;     // the word on the command line
    QString synopsis; // "read PORT", for the list of commands
    QString summary;  // one line for the list of commands
    QString help;     // the whole text of "kcradio NAME --help"
    // A section of the general help (options the command shares), or empty.
    QString generalHelp;
    // The command's options besides --help, --json and --quiet.
    QList<QCommandLineOption> options;
    // Reads the positional arguments and options into the request and sets
    // its makeCommand; returns a usage error in one line, empty when fine.
    std::function<QString(const QCommandLineParser &parser, KcCliRequest &request)> parse;
};

// The commands, in the order the general help lists them.
const QList<KcCliCommandEntry> &kcCliCommands();

// Each command's file provides its entry.
KcCliCommandEntry kcCliPortsCommand();
KcCliCommandEntry kcCliReadCommand();
KcCliCommandEntry kcCliConfigureCommand();
KcCliCommandEntry kcCliPairCommand();
KcCliCommandEntry kcCliEraseCommand();
KcCliCommandEntry kcCliFleetCommand();
KcCliCommandEntry kcCliCheckCommand();
KcCliCommandEntry kcCliLinkCommand();

// A running command. Lives as the runner's child; ends the run through
// finish().
class KcCliCommand : public QObject
{
public:
    explicit KcCliCommand(KcRadioCli *cli);

    virtual void start() = 0;
    // Ctrl-C: the runner has said so already. The default ends the run.
    virtual void interrupt();

protected:
    const KcCliRequest &request() const { return mCli->request(); }
    KcRadioCli *cli() const { return mCli; }
    void progress(const QString &who, const QString &line) { mCli->progress(who, line); }
    // Ends the run once every link set up by setUpLink() has released its
    // port: a closing "ATA" is read by the radio before the port closes.
    void finish(int exitCode, const QJsonObject &result, const QString &summary);
    // Runs then() once, when every link set up by setUpLink() has released
    // its port (at once when none is releasing): by then an answer that came
    // after its wait has arrived.
    void whenReleased(const std::function<void()> &then);
    // Ends the run as interrupted once every link has released its port;
    // the owners' abort() has started the releases.
    void interruptWhenReleased(const QList<KcRadioCommandLink *> &links);
    // A reader or an eraser of kcradio: paced as asked, and able to find a
    // radio that was left in command mode.
    void setUpLink(KcRadioCommandLink *link);

private:
    KcRadioCli *mCli;
    QList<KcRadioCommandLink *> mLinks;
};

// What a read or an erase learns from its link besides its own result.
struct KcLinkWatch
{
    QString openError;
    // The link asked at the verdict: the job's own reaction to a lost port
    // may end the run before the watch hears of it.
    QPointer<KcRadioCommandLink> link;
    bool entered = false;
    int rate = 0; // the rate at which the radio first answered
    // The replies as they arrive: the bytes of a line not yet ended, and
    // the time since the last command was written (its round trip).
    QByteArray partial;
    QElapsedTimer sinceCommand;

    // Exit status and reason of a failed operation; refusal when the radio
    // did answer.
    QPair<int, QString> failure(const QString &port, const QString &refusal) const;
};

// Reports the link's progress under the port's name, as configure does (each
// escape with its rate, each command, each reply line with the round trip of
// an answer), and remembers what tells failures apart.
std::shared_ptr<KcLinkWatch> kcCliWatchLink(KcRadioCli *cli, KcRadioCommandLink *link,
                                            const QString &port);

namespace KcCliOptions {

// Usage errors of a command's positional arguments: exactly wanted of them.
QString requirePorts(const KcCliRequest &request, int wanted);

// --model, --mode, --baud and --index as configure, pair and the others
// that set up radios read them.
QCommandLineOption model();
QCommandLineOption mode();
QCommandLineOption baud();
QCommandLineOption index();
QCommandLineOption id();
QCommandLineOption noVerify();

// Reads --model and --mode into settings; a usage error or empty.
QString readModelAndMode(const QCommandLineParser &parser, KcRadioSettings &settings);
// Reads --baud (default 9600, code 7) and --index (default 1) once the model
// and mode are read; refuses --baud where the rate is fixed (an MR240, a star
// network) and --index where no star airborne radio is configured
// (withAirborne false).
QString readBaudAndIndex(const QCommandLineParser &parser, KcRadioSettings &settings,
                         bool withAirborne);
// Reads --id into settings when given; a usage error or empty.
QString readId(const QCommandLineParser &parser, KcRadioSettings &settings, bool &given);

} // namespace KcCliOptions

// The exit status that a configuration job's outcome stands for.
int kcCliExitCodeOf(KcConfigJob::Outcome outcome);

// What link, pair --link-test and fleet --link-test share (app/cli/link.cpp):
// the options, the exit status and the summary of a link test.
QList<QCommandLineOption> kcCliLinkOptions();
QString kcCliLinkOptionsHelp();
QString kcCliReadLinkOptions(const QCommandLineParser &parser, KcLinkTest::Options &options);
int kcCliLinkExitCode(const KcLinkTest &test);
// The test's progress as lines on stderr.
void kcCliShowLinkProgress(KcLinkTest *test, KcRadioCli *cli);
QString kcCliLinkSummary(const KcLinkTest &test);
