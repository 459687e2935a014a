#include "kcfleetplan.h"

#include "kcradioid.h"
#include "kcradioprotocol.h"

#include <QMap>
#include <QSet>

#include <algorithm>

QString KcFleetRadio::adapterSerial() const
{
    return port.startsWith(QLatin1String("serial=")) ? port.mid(7) : QString();
}

QStringList KcFleetPlan::networks() const
{
    QStringList names;
    for (const KcFleetRadio &radio : radios)
        if (!names.contains(radio.network))
            names << radio.network;
    return names;
}

namespace {

// Reads the fields of one radio's line; a problem for each value it refuses.
void readRadio(const QStringList &fields, KcFleetRadio &radio, QList<KcFleetProblem> &problems)
{
    auto problem = [&](const QString &message) { problems.append({radio.line, message}); };
    radio.network = fields.at(0);
    if (radio.network.isEmpty())
        problem(QStringLiteral("the network has no name"));
    radio.role = KcRadioWords::roles().indexOf(fields.at(1).toLower());
    if (radio.role < 0)
        problem(QStringLiteral("unknown role \"%1\" (ground or airborne)").arg(fields.at(1)));
    radio.port = fields.at(2);
    if (radio.port.isEmpty() || radio.port == QLatin1String("serial="))
        problem(QStringLiteral("no port given (a path, or serial=XYZ)"));
    radio.radioType = KcRadioWords::models().indexOf(fields.at(3).toUpper());
    if (radio.radioType < 0)
        problem(QStringLiteral("unknown model \"%1\" (MR300, MR240 or MR300S)").arg(fields.at(3)));
    radio.netMode = KcRadioWords::modes().indexOf(fields.at(4).toLower());
    if (radio.netMode < 0)
        problem(QStringLiteral("unknown mode \"%1\" (p2p or star)").arg(fields.at(4)));

    const QString &baud = fields.at(5);
    if (!baud.isEmpty()) {
        radio.baudRateCode = -1;
        for (const auto &[word, code] : KcRadioWords::rates())
            if (word == baud)
                radio.baudRateCode = code;
        if (radio.baudRateCode < 0)
            problem(QStringLiteral("unknown baud \"%1\" (9600, 115200 or 230400)").arg(baud));
        // A model and mode whose S102 code does not follow the choice.
        else if (radio.netMode >= 0 && radio.radioType >= 0 &&
                 KcRadioProtocol::baudRateCodeFor(radio.netMode, radio.radioType, -1) >= 0)
            problem(QStringLiteral("a %1 %2 radio takes no baud; leave it blank")
                        .arg(fields.at(3).toUpper(), fields.at(4).toLower()));
        if (radio.baudRateCode < 0)
            radio.baudRateCode = 7;
    }

    const QString &index = fields.at(6);
    if (!index.isEmpty()) {
        bool ok = false;
        radio.index = index.toInt(&ok);
        if (!ok || radio.index < 1 || radio.index > 100)
            problem(QStringLiteral("index \"%1\" is not 1 to 100").arg(index));
        else if (radio.role >= 0 && radio.netMode >= 0 && !radio.isStarAirborne())
            problem(QStringLiteral("only a star airborne radio takes an index"));
        if (!ok || radio.index < 1 || radio.index > 100)
            radio.index = 0;
    }

    if (!fields.at(7).isEmpty()) {
        const std::optional<QString> digits = KcRadioId::acceptedDigits(fields.at(7));
        if (digits)
            radio.id = *digits;
        else
            problem(QStringLiteral("ID \"%1\" is not 1 to 10 digits within 0..4294967295")
                        .arg(fields.at(7)));
    }
}

// The rules that tie the radios of one network together.
void checkNetwork(const QList<const KcFleetRadio *> &radios, QList<KcFleetProblem> &problems)
{
    const KcFleetRadio &first = *radios.first();
    const QString name = first.network;
    const bool star = first.netMode == 1;
    QList<const KcFleetRadio *> grounds, airbornes;
    const KcFleetRadio *idRadio = nullptr;
    QMap<int, const KcFleetRadio *> indexes;
    for (const KcFleetRadio *radio : radios) {
        if (radio->radioType != first.radioType || radio->netMode != first.netMode) {
            problems.append(
                {radio->line, QStringLiteral("network \"%1\" is %2 %3 on line %4; "
                                             "every radio of a network has the "
                                             "same model and mode")
                                  .arg(name, KcRadioWords::models().value(first.radioType),
                                       KcRadioWords::modes().value(first.netMode))
                                  .arg(first.line)});
            // Its role still counts: the other rules blame no line that
            // keeps them.
        }
        (radio->role == 0 ? grounds : airbornes).append(radio);
        if (!radio->id.isEmpty()) {
            if (idRadio)
                problems.append({radio->line, QStringLiteral("network \"%1\" has its ID on line "
                                                             "%2 already; give it on one row")
                                                  .arg(name)
                                                  .arg(idRadio->line)});
            else
                idRadio = radio;
        }
        if (radio->index > 0 && radio->isStarAirborne()) {
            if (const KcFleetRadio *other = indexes.value(radio->index))
                problems.append({radio->line, QStringLiteral("index %1 of network \"%2\" is "
                                                             "taken on line %3 already")
                                                  .arg(radio->index)
                                                  .arg(name)
                                                  .arg(other->line)});
            else
                indexes.insert(radio->index, radio);
        }
    }
    const QString mode = KcRadioWords::modes().value(first.netMode);
    if (grounds.isEmpty())
        problems.append(
            {first.line,
             QStringLiteral("network \"%1\" (%2) has no ground radio").arg(name, mode)});
    for (int i = 1; i < grounds.size(); ++i)
        problems.append({grounds.at(i)->line,
                         QStringLiteral("network \"%1\" (%2) has its ground radio on line %3 "
                                        "already")
                             .arg(name, mode)
                             .arg(grounds.first()->line)});
    if (airbornes.isEmpty())
        problems.append(
            {first.line,
             QStringLiteral("network \"%1\" (%2) has no airborne radio").arg(name, mode)});
    const int maxAirborne = star ? 100 : 1;
    for (int i = maxAirborne; i < airbornes.size(); ++i)
        problems.append({airbornes.at(i)->line,
                         star ? QStringLiteral("network \"%1\" (star) has more than 100 airborne "
                                               "radios")
                                    .arg(name)
                              : QStringLiteral("network \"%1\" (p2p) has its airborne radio on "
                                               "line %2 already")
                                    .arg(name)
                                    .arg(airbornes.first()->line)});
}

} // namespace

KcFleetPlan KcFleetPlan::parse(const QByteArray &bytes)
{
    KcFleetPlan plan;
    const QList<QByteArray> lines = bytes.split('\n');
    bool headerSeen = false;
    QSet<QString> refused; // networks with a line whose values were refused
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNumber = i + 1;
        const QString text = QString::fromUtf8(lines.at(i)).trimmed();
        if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
            continue;
        QStringList fields = text.split(QLatin1Char(','));
        for (QString &field : fields)
            field = field.trimmed();
        if (!headerSeen) {
            headerSeen = true;
            QStringList lower;
            for (const QString &field : fields)
                lower << field.toLower();
            if (lower != KcRadioWords::columns())
                plan.problems.append(
                    {lineNumber, QStringLiteral("the first line must be the header \"%1\"")
                                     .arg(KcRadioWords::columns().join(QLatin1Char(',')))});
            continue;
        }
        if (fields.size() != KcRadioWords::columns().size()) {
            plan.problems.append(
                {lineNumber,
                 QStringLiteral("%1 fields, not the 8 of the header").arg(fields.size())});
            // Its network misses a radio only because of this line.
            refused.insert(fields.first());
            continue;
        }
        KcFleetRadio radio;
        radio.line = lineNumber;
        const int problemsBefore = plan.problems.size();
        readRadio(fields, radio, plan.problems);
        if (plan.problems.size() == problemsBefore) {
            plan.radios.append(radio);
        } else {
            refused.insert(radio.network);
            plan.refused.append(radio);
        }
    }
    if (!headerSeen)
        plan.problems.append({0, QStringLiteral("the plan holds no header and no radio")});
    else if (plan.radios.isEmpty() && plan.problems.isEmpty())
        plan.problems.append({0, QStringLiteral("the plan holds no radio")});

    QMap<QString, QList<const KcFleetRadio *>> networks;
    for (const KcFleetRadio &radio : plan.radios)
        networks[radio.network].append(&radio);
    // A network with a refused line is not judged as a whole: its rules would
    // only repeat that line's problem.
    for (const QString &name : plan.networks())
        if (!refused.contains(name))
            checkNetwork(networks.value(name), plan.problems);

    // One ID is one network's: a radio of another network would hear it.
    QMap<quint64, const KcFleetRadio *> ids;
    for (const KcFleetRadio &radio : plan.radios) {
        if (radio.id.isEmpty())
            continue;
        const quint64 value = radio.id.toULongLong();
        const KcFleetRadio *other = ids.value(value);
        if (!other)
            ids.insert(value, &radio);
        else if (other->network != radio.network)
            plan.problems.append({radio.line, QStringLiteral("ID %1 is network \"%2\"'s (line "
                                                             "%3) too")
                                                  .arg(radio.id, other->network)
                                                  .arg(other->line)});
    }
    std::stable_sort(
        plan.problems.begin(), plan.problems.end(),
        [](const KcFleetProblem &a, const KcFleetProblem &b) { return a.line < b.line; });
    return plan;
}
