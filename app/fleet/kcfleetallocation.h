#pragma once

#include "kcfleetplan.h"
#include "kcfleetrecord.h"

#include <QMap>
#include <QPair>
#include <QSet>

class QRandomGenerator;

// The values a plan leaves open: star indexes and network IDs. No port, no
// file: the record's IDs come in as values.
namespace KcFleetAllocation {

// Gives each star airborne radio without an index the lowest index that no
// other radio of its network holds, in the order of the plan. The plan has
// made sure that a star network has at most 100 airborne radios.
void assignIndexes(QList<KcFleetRadio> &radios);

struct Ids
{
    QMap<QString, QString> byNetwork; // network -> ID digits
    QMap<QString, bool> reused;       // network -> its ID was taken from the record
    QList<KcFleetProblem> problems;
};

// An ID for every network of the plan: the one its line gives; with resume,
// the one the record holds for it (the latest); else a fresh one. recorded
// holds the record's lines in order; only those that hold their ID for a
// pair count. An ID the plan gives
// that the record holds for another network is a problem unless allowReused,
// and so is a resumed network's recorded ID that the record holds for
// another network as well.
Ids assignIds(const KcFleetPlan &plan, const QList<KcFleetRecordEntry> &recorded, bool resume,
              bool allowReused, QRandomGenerator &random);

// A fresh ID by the window's rule (ten digits made of two draws in
// 0..32767) that is none of taken. The draws come from random, which is the
// system's source outside tests, so that two runs never follow one seed.
quint64 freshId(QRandomGenerator &random, const QSet<quint64> &taken);

} // namespace KcFleetAllocation
