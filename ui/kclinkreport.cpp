#include "kclinkreport.h"

#include "kclinkframes.h"
#include "kclinktest.h"
#include "kcrunreport.h"

#include <QCoreApplication>

namespace {

QString percent(double ratio)
{
    return QString::number(ratio * 100.0, 'f', 1);
}

QString ms(qint64 value)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value);
}

} // namespace

void KcLinkReport::start(const KcLinkTest *test)
{
    *this = KcLinkReport();
    mTest = test;
}

void KcLinkReport::radioRead(int)
{
    ++mRead;
}

void KcLinkReport::trafficStarted()
{
    mTraffic = true;
}

void KcLinkReport::frames(int from, int sent)
{
    if (from != mFrom) {
        mDoneFrames += mSent;
        mFrom = from;
    }
    mSent = sent;
}

int KcLinkReport::progressMaximum() const
{
    return mTraffic ? mTest->plannedFrames() * mTest->radios().size() : 0;
}

QString KcLinkReport::roleWord(int radio)
{
    return radio == 0 ? tr("LinkGroundRadio") : tr("LinkAirborneRadio");
}

QString KcLinkReport::progressText() const
{
    if (!mTraffic)
        return mRead == 0 ? tr("LinkReadingBoth")
                          : tr("LinkReadingOne").arg(roleWord(mTest->radios().size() - mRead));
    // The frames still to send, at the load, make the time left.
    const int left = qMax(0, progressMaximum() - progressValue());
    const int seconds =
        int((qint64(left) * KcLinkFrameCoder::FrameBytes + mTest->bytesPerSecond() - 1) /
            qMax(1, mTest->bytesPerSecond()));
    return (mFrom == 0 ? tr("LinkSendingGroundToAirborne") : tr("LinkSendingAirborneToGround"))
        .arg(mSent)
        .arg(mTest->plannedFrames())
        .arg(seconds);
}

bool KcLinkReport::passed() const
{
    return mTest && mTest->outcome() == KcLinkTest::Outcome::Linked;
}

QStringList KcLinkReport::directionLines() const
{
    QStringList lines;
    for (const KcLinkTest::Row &row : mTest->rows()) {
        const KcLinkTally &t = row.tally;
        lines << (row.from == 0 ? tr("LinkRowGroundToAirborne") : tr("LinkRowAirborneToGround"))
                     .arg(percent(t.delivery()))
                     .arg(t.lost())
                     .arg(t.corruptFrames())
                     .arg(ms(t.latencyPercentileMs(50)), ms(t.latencyPercentileMs(95)));
    }
    return lines;
}

QString KcLinkReport::verdict() const
{
    const QList<KcLinkRadio> &radios = mTest->radios();
    switch (mTest->outcome()) {
    case KcLinkTest::Outcome::Linked:
        return tr("LinkPasses");
    case KcLinkTest::Outcome::DifferentIds:
        return tr("LinkDifferentIds").arg(radios.at(0).id, radios.at(1).id);
    case KcLinkTest::Outcome::Silent:
        return tr("LinkSilent")
            .arg(roleWord(mTest->failedRadio()), radios.at(qMax(0, mTest->failedRadio())).port);
    case KcLinkTest::Outcome::Unreadable:
        return tr("LinkUnreadable")
            .arg(roleWord(mTest->failedRadio()), radios.at(qMax(0, mTest->failedRadio())).port);
    case KcLinkTest::Outcome::PortFailed:
        return tr("LinkPortFailed").arg(radios.at(qMax(0, mTest->failedRadio())).port);
    case KcLinkTest::Outcome::Interrupted:
    case KcLinkTest::Outcome::Running:
        return tr("LinkStopped");
    case KcLinkTest::Outcome::NotLinked:
        break;
    }
    if (!mTest->leftDataMode().isEmpty())
        return tr("LinkLeftDataMode");
    const KcLinkTest::Row &row = mTest->rows().at(qMax(0, mTest->failedRow()));
    if (row.tally.receivedFrames() == 0)
        return tr("LinkNoFrame").arg(roleWord(row.from), roleWord(row.to));
    return (row.to == 0 ? tr("LinkDeliveryGround") : tr("LinkDeliveryAirborne"))
        .arg(percent(row.tally.delivery()), percent(mTest->options().minDelivery));
}

KcRunReason KcLinkReport::reason() const
{
    KcRunReason reason;
    if (passed())
        return reason;
    reason.cause = KcRunReason::Cause::Custom;
    reason.english = mTest->reason();
    reason.words = verdict();
    return reason;
}

QJsonObject KcLinkReport::recordLine() const
{
    QJsonObject line = mTest->recordLine(mTest->radios().first().id);
    if (mTest->outcome() == KcLinkTest::Outcome::Interrupted)
        line.insert(QStringLiteral("outcome"), QStringLiteral("link-aborted"));
    return line;
}
