#include "designfont.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace {

bool isInstalled(const QString &family)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QFontDatabase::hasFamily(family);
#else
    return QFontDatabase().hasFamily(family);
#endif
}

} // namespace

void registerDesignFontSubstitutes()
{
    const QString designed = QStringLiteral("微软雅黑");
    if (isInstalled(designed) || !QFont::substitutes(designed).isEmpty())
        return;
    const QFont font(designed);
    QStringList families;
    const QString latin = QFontInfo(font).family();
    if (!latin.isEmpty() && latin != designed)
        families << latin;
    if (!families.isEmpty())
        QFont::insertSubstitutions(designed, families);
}
