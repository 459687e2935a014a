#include "translationloader.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {
// The locale key follows the prefix and one separator character.
constexpr int LocaleKeyLength = 5;
const char FallbackLocale[] = "en_US";
const char TranslationPrefix[] = "Trns";
const char TranslationSuffix[] = "qm";

QString defaultDictDir()
{
    // The working directory, not the program's folder: the tool is started
    // from the folder that carries its dictionaries.
    return QDir::currentPath() + QStringLiteral("/dict/");
}
} // namespace

bool searchTranslationFiles(QMap<QString, QString> &map, const QString &prefix,
                            const QString &suffix)
{
    return searchTranslationFilesIn(defaultDictDir(), map, prefix, suffix);
}

bool searchTranslationFilesIn(const QString &dirPath, QMap<QString, QString> &map,
                              const QString &prefix, const QString &suffix)
{
    QDir dir(dirPath);
    if (!dir.exists())
        return false;

    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot,
                          QDir::Name | QDir::DirsFirst);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir())
            continue;
        const QString name = entry.fileName();
        if (!name.startsWith(prefix, Qt::CaseSensitive) ||
            !name.endsWith(suffix, Qt::CaseSensitive))
            continue;
        // A later name with the same key replaces the earlier one.
        map.insert(name.mid(prefix.length() + 1, LocaleKeyLength), entry.absoluteFilePath());
    }
    return !map.isEmpty();
}

QString chooseTranslationFile(const QMap<QString, QString> &map, const QString &localeName)
{
    if (map.contains(localeName))
        return map.value(localeName);
    const QString fallback = QString::fromLatin1(FallbackLocale);
    if (map.contains(fallback))
        return map.value(fallback);
    return map.isEmpty() ? QString() : map.first();
}

QString chooseTranslationLocale(const QMap<QString, QString> &map, const QString &localeName)
{
    return map.key(chooseTranslationFile(map, localeName));
}

QStringList translationFolders(const QString &workingDir, const QString &programDir)
{
    // KC_DATA_FROM_PROGRAM: the installed data folder seen from the
    // installed program's folder (the build says where).
    const QString dict = QStringLiteral("dict");
    return {QDir::cleanPath(QDir(workingDir).filePath(dict)),
            QDir::cleanPath(QDir(programDir).filePath(dict)),
            QDir::cleanPath(
                QDir(programDir)
                    .filePath(QString::fromUtf8(KC_DATA_FROM_PROGRAM) + QLatin1Char('/') + dict))};
}

bool loadTranslation(QApplication &app, QTranslator &translator, QMap<QString, QString> &map)
{
    return loadFirstTranslation(
        app, translator, map,
        translationFolders(QDir::currentPath(), QCoreApplication::applicationDirPath()),
        QLocale::system().name());
}

bool loadFirstTranslation(QApplication &app, QTranslator &translator, QMap<QString, QString> &map,
                          const QStringList &dirPaths, const QString &localeName)
{
    for (const QString &dirPath : dirPaths)
        if (loadTranslationFrom(app, translator, map, dirPath, localeName))
            return true;
    // Without translations the window shows its text keys: say why, once.
    qWarning().noquote() << QStringLiteral("no translations (%1_*.%2) in %3; the window shows "
                                           "its text keys")
                                .arg(QLatin1String(TranslationPrefix),
                                     QLatin1String(TranslationSuffix),
                                     dirPaths.join(QStringLiteral(", ")));
    return false;
}

bool loadTranslationFrom(QApplication &app, QTranslator &translator, QMap<QString, QString> &map,
                         const QString &dirPath, const QString &localeName)
{
    if (!searchTranslationFilesIn(dirPath, map, QString::fromLatin1(TranslationPrefix),
                                  QString::fromLatin1(TranslationSuffix)))
        return false;

    const QString file = chooseTranslationFile(map, localeName);
    // An unreadable or invalid file leaves the keys untranslated; no other
    // file is tried.
    if (translator.load(file, QString(), QString(), QString()))
        app.installTranslator(&translator);
    return true;
}

bool loadQtTranslationFrom(QApplication &app, QTranslator &translator, const QString &localeKey,
                           const QString &qtDir)
{
    if (localeKey.isEmpty())
        return false;
    // Tries qtbase_zh_CN.qm, then qtbase_zh.qm, and so on for the locale's
    // languages.
    if (!translator.load(QLocale(localeKey), QStringLiteral("qtbase"), QStringLiteral("_"), qtDir))
        return false;
    app.installTranslator(&translator);
    return true;
}

bool loadQtTranslation(QApplication &app, QTranslator &translator, const QString &localeKey)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString qtDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString qtDir = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    return loadQtTranslationFrom(app, translator, localeKey, qtDir);
}
