#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Attributes the radio's reply lines to the command that was written last,
// so that every command can be judged on its own answer. A reply line ends at
// CR or LF; it is the line's text without surrounding blanks that counts, so
// the echo of a command is never taken for its answer, whatever the chunking.
// A command's window runs from its write to the next write; a line still open
// when the next command is written is closed with its window. A reply line
// that began arriving before a command was written never belongs to that
// command: the rest of it, up to its line end, counts for no window (a line
// that never ends is closed with the window it went on in, for radios that
// end no line). The tracker follows lines across a reset, so that this holds
// for the first command after one too.
class KcReplyTracker
{
public:
    struct Window
    {
        QString command;
        bool ok = false;    // an "OK" line arrived
        bool error = false; // an "ERROR" line arrived
        QByteArray bytes;   // everything that arrived, up to a bound
    };

    // Forgets every window: what arrived before is nobody's answer. A line
    // still arriving stays nobody's up to its end.
    void reset();
    // Closes the running window and opens one for command.
    void commandWritten(const QString &command);
    // Bytes from the radio; nobody's while no command has been written since
    // the last reset.
    void bytesReceived(const QByteArray &chunk);

    // The windows of the commands written since the last reset, in order.
    // The last one is still open: its flags do not include pendingLine().
    const QList<Window> &windows() const { return mWindows; }
    // Text of the line still open in the last window (no CR or LF yet).
    QByteArray pendingLine() const { return mPendingTooLong ? QByteArray() : mPending.trimmed(); }

    static bool isOkLine(const QByteArray &line);
    static bool isErrorLine(const QByteArray &line);
    // Bytes that are no text: what a reply sent at another line speed
    // reads as.
    static bool hasUnreadableBytes(const QByteArray &bytes);

private:
    void closeLine();

    QList<Window> mWindows;
    QByteArray mPending;
    bool mPendingTooLong = false; // a line too long to be a reply
    bool mLineBegun = false;      // bytes came since the last line end
    bool mContinuing = false;     // the open line began before the last write
};
