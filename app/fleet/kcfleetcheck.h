#pragma once

#include <QList>
#include <QMap>
#include <QString>

// Whether radios that are already set up form a working network, from their
// settings listings alone: the same S104 on all; each radio's S102, S103,
// S113 (and S105 for a star airborne radio) as a configuration for its role
// and model leaves them; distinct star indexes.
namespace KcFleetCheck {

// A register of one radio that differs from what the network needs.
struct Finding
{
    int radio = 0; // position in the list given to judge(); 0 is the ground radio
    int reg = 0;
    QString held;     // the value the radio lists; empty when it lists none
    QString expected; // what it should hold, in words: "2", "0, 1 or 7"

    // "S104 holds 222, the ground radio's is 111"
    QString describe() const;
    bool operator==(const Finding &other) const
    {
        return radio == other.radio && reg == other.reg && held == other.held &&
               expected == other.expected;
    }
};

// The registers of a network's radios (the ground radio first, then the
// airborne ones), of model radioType in mode netMode. Empty when they fit.
QList<Finding> judge(int radioType, int netMode, const QList<QMap<int, QString>> &radios);

} // namespace KcFleetCheck
