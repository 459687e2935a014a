#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The words that kcradio, a fleet's plan and its record use for the models ("MR300",
// "MR240", "MR300S"), modes ("p2p", "star") and roles ("ground",
// "airborne"), each at its index.
namespace KcRadioWords {
const QStringList &models();
const QStringList &modes();
const QStringList &roles();
// The plan's columns, in order.
const QStringList &columns();
// The rate words a baud column or --baud takes and their S102 codes.
QList<QPair<QString, int>> rates();
} // namespace KcRadioWords
