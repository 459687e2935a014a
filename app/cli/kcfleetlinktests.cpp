#include "kcfleetlinktests.h"

#include "kcclicommand.h"

namespace {

QStringList portsOf(const QJsonArray &radios)
{
    QStringList ports;
    for (const QJsonValue &radio : radios)
        ports << radio.toObject().value(QStringLiteral("port")).toString();
    return ports;
}

} // namespace

KcFleetLinkTests::KcFleetLinkTests(const QList<Network> &networks,
                                   const KcLinkTest::Options &options,
                                   const QList<QJsonObject> &recordedLinks,
                                   std::function<bool(const QJsonObject &)> appendLine,
                                   std::function<void(KcLinkTest *)> show, QObject *parent)
    : QObject(parent), mNetworks(networks), mOptions(options), mRecordedLinks(recordedLinks),
      mAppendLine(std::move(appendLine)), mShow(std::move(show))
{
}

bool KcFleetLinkTests::linkedBefore(const QList<QJsonObject> &recordedLinks, const Network &network)
{
    QStringList ports;
    for (const KcLinkRadio &radio : network.radios)
        ports << radio.port;
    // The latest line of the network decides.
    for (auto it = recordedLinks.crbegin(); it != recordedLinks.crend(); ++it) {
        if (it->value(QStringLiteral("network")).toString() != network.name)
            continue;
        return it->value(QStringLiteral("outcome")).toString() == QLatin1String("linked") &&
               it->value(QStringLiteral("id")).toString() == network.id &&
               portsOf(it->value(QStringLiteral("radios")).toArray()) == ports;
    }
    return false;
}

void KcFleetLinkTests::start()
{
    mRunning = true;
    testNext();
}

void KcFleetLinkTests::abort()
{
    mStopped = true;
    if (mTest)
        mTest->abort();
}

void KcFleetLinkTests::testNext()
{
    while (mNext < mNetworks.size() && !mStopped) {
        const Network &network = mNetworks.at(mNext++);
        if (linkedBefore(mRecordedLinks, network)) {
            emit networkStarted(network.name, true);
            mResults.append(QJsonObject{{QStringLiteral("network"), network.name},
                                        {QStringLiteral("outcome"), QStringLiteral("skipped")}});
            continue;
        }
        emit networkStarted(network.name, false);
        mTest = new KcLinkTest(network.radios, mOptions, this);
        mShow(mTest);
        connect(mTest, &KcLinkTest::finished, this, [this, network]() {
            KcLinkTest *test = mTest;
            mTest = nullptr;
            test->deleteLater();
            QJsonObject line = test->recordLine(network.id);
            line.insert(QStringLiteral("network"), network.name);
            mResults.append(line);
            mExitCode = qMax(mExitCode, kcCliLinkExitCode(*test));
            mSummary +=
                QStringLiteral("network %1: %2\n").arg(network.name, kcCliLinkSummary(*test));
            // An interrupted test proves nothing either way: no line.
            if (test->outcome() == KcLinkTest::Outcome::Interrupted)
                mStopped = true;
            else if (!mAppendLine(line))
                mStopped = true;
            testNext();
        });
        mTest->start();
        return;
    }
    mRunning = false;
    emit finished();
}
