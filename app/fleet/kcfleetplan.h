#pragma once

#include "kcfleetproblem.h"
#include "kcradiowords.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// One radio of a plan, as its line gives it.
struct KcFleetRadio
{
    int line = 0;
    QString network;
    int role = 0;         // 0 ground, 1 airborne
    QString port;         // a port path or name, or "serial=XYZ"
    int radioType = 0;    // 0 MR300, 1 MR240, 2 MR300S
    int netMode = 0;      // 0 P2P, 1 star
    int baudRateCode = 7; // the S102 code of the baud column; 9600 when blank
    int index = 0;        // star airborne index 1..100; 0 when blank or not used
    QString id;           // the ID digits when given, else empty

    bool isStarAirborne() const { return netMode == 1 && role == 1; }
    // XYZ of a port given as "serial=XYZ"; empty for a path.
    QString adapterSerial() const;
};

// The plan of a fleet: a CSV text with the header
// "network,role,port,model,mode,baud,index,id" and one radio a line. Blank
// lines and lines starting with '#' are skipped; fields are not quoted.
// Every radio of a network shares its model, mode and ID; a P2P network has
// one ground and one airborne radio, a star network one ground radio and 1 to
// 100 airborne radios with distinct indexes.
struct KcFleetPlan
{
    QList<KcFleetRadio> radios; // in the order of the lines
    QList<KcFleetProblem> problems;
    // The lines of 8 fields whose values were refused, as far as they were
    // read: their ports are still checked against the others', so that a
    // port named twice is told in the same pass as a bad model.
    QList<KcFleetRadio> refused;

    // Reads a plan; never fails as a whole: what is wrong is in problems.
    static KcFleetPlan parse(const QByteArray &bytes);

    bool ok() const { return problems.isEmpty(); }
    // The networks, in the order they first appear.
    QStringList networks() const;
};
