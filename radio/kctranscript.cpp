#include "kctranscript.h"

#include "kclogging.h"
#include "kcradiocommandlink.h"
#include "kcradioprotocol.h"
#include "kcradiotiming.h"
#include "kcreplytracker.h"

namespace KcTranscript {

QString written(const QString &command, int rate, bool inCommandMode)
{
    if (!inCommandMode && command == QLatin1String(KcRadioProtocol::Escape))
        return QStringLiteral("> +++ at %1 baud").arg(rate);
    if (!inCommandMode && command == QLatin1String(KcRadioProtocol::AttentionCmd))
        return QStringLiteral("> AT at %1 baud (in command mode already?)").arg(rate);
    return QStringLiteral("> ") + command;
}

QString received(const QByteArray &line, int roundTripMs)
{
    QString text = QStringLiteral("< ");
    for (const char byte : line) {
        const auto c = static_cast<unsigned char>(byte);
        if (c >= 0x20 && c < 0x7f)
            text += QLatin1Char(char(c));
        else
            text += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    const bool answer = KcReplyTracker::isOkLine(line) || KcReplyTracker::isErrorLine(line);
    if (answer && roundTripMs >= 0)
        text += QStringLiteral(" (%1 ms)").arg(roundTripMs);
    return text;
}

} // namespace KcTranscript

void KcLinkTranscript::follow(KcRadioCommandLink *link)
{
    new KcLinkTranscript(link);
}

KcLinkTranscript::KcLinkTranscript(KcRadioCommandLink *link) : QObject(link), mLink(link)
{
    connect(link, &KcRadioCommandLink::commandWritten, this, &KcLinkTranscript::onCommandWritten);
    connect(link, &KcRadioCommandLink::chunkReceived, this, &KcLinkTranscript::onChunk);
}

void KcLinkTranscript::onCommandWritten(const QString &command)
{
    mWrittenAt = KcRadioTiming::nowMs();
    log(KcTranscript::written(command, mLink->baudRate(), mLink->inCommandMode()));
}

void KcLinkTranscript::onChunk(const QByteArray &chunk)
{
    if (!kcTranscriptLog().isInfoEnabled())
        return;
    mPartial += chunk;
    // A reply line ends at CR or LF, whichever comes first.
    const auto lineEnd = [this]() {
        const int cr = mPartial.indexOf('\r');
        const int lf = mPartial.indexOf('\n');
        return cr < 0 ? lf : lf < 0 ? cr : qMin(cr, lf);
    };
    for (int end = lineEnd(); end >= 0; end = lineEnd()) {
        const QByteArray line = mPartial.left(end).trimmed();
        mPartial.remove(0, end + 1);
        if (!line.isEmpty())
            log(KcTranscript::received(
                line, mWrittenAt < 0 ? -1 : int(KcRadioTiming::nowMs() - mWrittenAt)));
    }
    // A line without an end is bounded like the radio's longest reply line.
    if (mPartial.size() > 256)
        mPartial.clear();
}

void KcLinkTranscript::log(const QString &line) const
{
    qCInfo(kcTranscriptLog).noquote()
        << QStringLiteral("%1 (%2 baud): %3")
               .arg(mLink->portName(), QString::number(mLink->baudRate()), line);
}
