#include "kcreplytracker.h"

#include <algorithm>

namespace {
// Bounds what one window keeps: a listing is a few hundred bytes, but a radio
// that streams data to an open window must not grow it without end.
constexpr int MaxWindowBytes = 65536;
constexpr int MaxLineBytes = 4096;

bool isBlank(char byte)
{
    return byte == ' ' || byte == '\t' || byte == '\v' || byte == '\f';
}
} // namespace

void KcReplyTracker::reset()
{
    mWindows.clear();
    mPending.clear();
    mPendingTooLong = false;
    mContinuing = mLineBegun;
}

void KcReplyTracker::commandWritten(const QString &command)
{
    closeLine();
    mContinuing = mLineBegun;
    Window window;
    window.command = command;
    mWindows.append(window);
}

void KcReplyTracker::bytesReceived(const QByteArray &chunk)
{
    if (!mWindows.isEmpty()) {
        QByteArray &bytes = mWindows.last().bytes;
        bytes.append(chunk.left(MaxWindowBytes - bytes.size()));
    }
    for (const char byte : chunk) {
        if (byte == '\r' || byte == '\n') {
            // The end of a line that began before the last write is no line
            // of that command's.
            if (mContinuing) {
                mPending.clear();
                mPendingTooLong = false;
            }
            closeLine();
            mContinuing = mLineBegun = false;
            continue;
        }
        mLineBegun = true;
        if (isBlank(byte) && mPending.isEmpty())
            continue; // leading blanks do not count towards the bound
        else if (mPending.size() < MaxLineBytes)
            mPending.append(byte);
        else if (!isBlank(byte))
            mPendingTooLong = true;
    }
}

void KcReplyTracker::closeLine()
{
    const QByteArray line = mPending.trimmed();
    const bool tooLong = mPendingTooLong;
    mPending.clear();
    mPendingTooLong = false;
    if (line.isEmpty() || tooLong || mWindows.isEmpty())
        return;
    Window &window = mWindows.last();
    window.ok = window.ok || isOkLine(line);
    window.error = window.error || isErrorLine(line);
}

bool KcReplyTracker::isOkLine(const QByteArray &line)
{
    return line.trimmed() == "OK";
}

bool KcReplyTracker::hasUnreadableBytes(const QByteArray &bytes)
{
    return std::any_of(bytes.cbegin(), bytes.cend(), [](char byte) {
        return (byte < ' ' || byte > '~') && !QByteArray("\r\n\t").contains(byte);
    });
}

bool KcReplyTracker::isErrorLine(const QByteArray &line)
{
    return line.trimmed() == "ERROR";
}
