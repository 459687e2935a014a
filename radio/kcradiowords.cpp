#include "kcradiowords.h"

namespace KcRadioWords {

const QStringList &models()
{
    static const QStringList words{QStringLiteral("MR300"), QStringLiteral("MR240"),
                                   QStringLiteral("MR300S")};
    return words;
}

const QStringList &modes()
{
    static const QStringList words{QStringLiteral("p2p"), QStringLiteral("star")};
    return words;
}

const QStringList &roles()
{
    static const QStringList words{QStringLiteral("ground"), QStringLiteral("airborne")};
    return words;
}

const QStringList &columns()
{
    static const QStringList words{QStringLiteral("network"), QStringLiteral("role"),
                                   QStringLiteral("port"),    QStringLiteral("model"),
                                   QStringLiteral("mode"),    QStringLiteral("baud"),
                                   QStringLiteral("index"),   QStringLiteral("id")};
    return words;
}

QList<QPair<QString, int>> rates()
{
    return {
        {QStringLiteral("9600"), 7}, {QStringLiteral("115200"), 1}, {QStringLiteral("230400"), 0}};
}

} // namespace KcRadioWords
