#include "translationloader.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

// Translation file search and choice, on temporary dictionary folders.
class TestTranslationLoader : public QObject
{
    Q_OBJECT

private slots:
    void choose_data();
    void choose();
    void search_data();
    void search();
    void searchMissingDirLeavesMap();
    void loadInstallsChosenFile_data();
    void loadInstallsChosenFile();
    void loadInvalidFileInstallsNothing();
    void loadWithoutFilesInstallsNothing();
    void publicSearchUsesWorkingDirectory();
    void lookupOrder_data();
    void lookupOrder();

private:
    static void touch(const QString &path, const QByteArray &content = "x");
    static QString builtDictionary(const QString &name);
};

void TestTranslationLoader::touch(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

QString TestTranslationLoader::builtDictionary(const QString &name)
{
    const QString dictDir = qEnvironmentVariable("KC_DICT_DIR");
    return dictDir.isEmpty() ? QString() : dictDir + QLatin1Char('/') + name;
}

void TestTranslationLoader::choose_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expectedKey");

    QTest::newRow("locale match") << QStringList{"en_US", "zh_CN"} << "zh_CN"
                                  << "zh_CN";
    QTest::newRow("en_US fallback") << QStringList{"en_US", "zh_CN"} << "de_DE"
                                    << "en_US";
    QTest::newRow("smallest key") << QStringList{"zh_CN", "fr_FR"} << "de_DE"
                                  << "fr_FR";
    QTest::newRow("only one") << QStringList{"zh_CN"} << "en_US"
                              << "zh_CN";
    QTest::newRow("odd keys sort by code unit") << QStringList{"qm", "_en_U", "Zz"} << "C"
                                                << "Zz";
    QTest::newRow("empty map") << QStringList{} << "en_US" << QString();
}

void TestTranslationLoader::choose()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, locale);
    QFETCH(QString, expectedKey);

    QMap<QString, QString> map;
    for (const QString &key : keys)
        map.insert(key, "/dict/file-" + key);
    const QString expected = expectedKey.isEmpty() ? QString() : "/dict/file-" + expectedKey;
    QCOMPARE(chooseTranslationFile(map, locale), expected);
}

void TestTranslationLoader::search_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("dirs");
    QTest::addColumn<QStringList>("symlinks");
    QTest::addColumn<bool>("result");
    // "key=file name" for every entry expected in the map.
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("two locales") << "Trns" << QStringList{"Trns_zh_CN.qm", "Trns_en_US.qm"}
                                 << QStringList{} << QStringList{} << true
                                 << QStringList{"en_US=Trns_en_US.qm", "zh_CN=Trns_zh_CN.qm"};
    QTest::newRow("later name wins")
        << "Trns" << QStringList{"Trns_en_US.qm", "Trns-en_US.qm"} << QStringList{} << QStringList{}
        << true << QStringList{"en_US=Trns_en_US.qm"};
    QTest::newRow("case of prefix and suffix")
        << "Trns" << QStringList{"trns_en_US.qm", "Trns_en_US.QM", "TRNS_zh_CN.qm"} << QStringList{}
        << QStringList{} << false << QStringList{};
    QTest::newRow("no dot before suffix")
        << "Trns" << QStringList{"Trns_en_USqm"} << QStringList{} << QStringList{} << true
        << QStringList{"en_US=Trns_en_USqm"};
    QTest::newRow("short name") << "Trns" << QStringList{"Trns.qm"} << QStringList{}
                                << QStringList{} << true << QStringList{"qm=Trns.qm"};
    QTest::newRow("other files ignored")
        << "Trns" << QStringList{"readme.txt", "Trns_en_US.ts", "Trns_zh_CN.qm"} << QStringList{}
        << QStringList{} << true << QStringList{"zh_CN=Trns_zh_CN.qm"};
    QTest::newRow("sub-directory ignored")
        << "Trns" << QStringList{"Trns_zh_CN.qm"} << QStringList{"Trns_en_US.qm"} << QStringList{}
        << true << QStringList{"zh_CN=Trns_zh_CN.qm"};
    QTest::newRow("only a sub-directory") << "Trns" << QStringList{} << QStringList{"Trns_en_US.qm"}
                                          << QStringList{} << false << QStringList{};
    QTest::newRow("symbolic link ignored")
        << "Trns" << QStringList{"target.bin"} << QStringList{} << QStringList{"Trns_en_US.qm"}
        << false << QStringList{};
    // Hidden files on this platform are the names with a leading dot.
    QTest::newRow("hidden file used")
        << ".Trns" << QStringList{".Trns_en_US.qm"} << QStringList{} << QStringList{} << true
        << QStringList{"en_US=.Trns_en_US.qm"};
    QTest::newRow("empty folder") << "Trns" << QStringList{} << QStringList{} << QStringList{}
                                  << false << QStringList{};
}

void TestTranslationLoader::search()
{
    QFETCH(QString, prefix);
    QFETCH(QStringList, files);
    QFETCH(QStringList, dirs);
    QFETCH(QStringList, symlinks);
    QFETCH(bool, result);
    QFETCH(QStringList, expected);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QDir dir(tmp.path());
    for (const QString &name : files)
        touch(dir.filePath(name));
    for (const QString &name : dirs)
        QVERIFY(dir.mkdir(name));
    touch(dir.filePath("link-target.qm"));
    for (const QString &name : symlinks)
        QVERIFY(QFile::link(dir.filePath("link-target.qm"), dir.filePath(name)));

    QMap<QString, QString> map;
    QCOMPARE(searchTranslationFilesIn(tmp.path(), map, prefix, "qm"), result);

    QMap<QString, QString> wanted;
    for (const QString &entry : expected) {
        const QString key = entry.section('=', 0, 0);
        wanted.insert(key, QFileInfo(dir.filePath(entry.section('=', 1))).absoluteFilePath());
    }
    QCOMPARE(map, wanted);
}

void TestTranslationLoader::searchMissingDirLeavesMap()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QMap<QString, QString> map{{"xx_XX", "/somewhere/Trns_xx_XX.qm"}};
    const QMap<QString, QString> before = map;
    QVERIFY(!searchTranslationFilesIn(tmp.path() + "/no-such-dict/", map, "Trns", "qm"));
    QCOMPARE(map, before);
}

void TestTranslationLoader::loadInstallsChosenFile_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expectedFile");

    QTest::newRow("zh_CN") << "zh_CN"
                           << "Trns_zh_CN.qm";
    QTest::newRow("en_US") << "en_US"
                           << "Trns_en_US.qm";
    QTest::newRow("de_DE falls back to en_US") << "de_DE"
                                               << "Trns_en_US.qm";
}

void TestTranslationLoader::loadInstallsChosenFile()
{
    QFETCH(QString, locale);
    QFETCH(QString, expectedFile);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    for (const QString name : {"Trns_en_US.qm", "Trns_zh_CN.qm"}) {
        const QString built = builtDictionary(name);
        if (built.isEmpty())
            QSKIP("KC_DICT_DIR is not set");
        QVERIFY2(QFile::copy(built, tmp.filePath(name)), qPrintable(built));
    }

    QTranslator translator;
    QMap<QString, QString> map;
    QVERIFY(loadTranslationFrom(*qApp, translator, map, tmp.path(), locale));
    QCOMPARE(map.size(), 2);
    QCOMPARE(translator.filePath(), QFileInfo(tmp.filePath(expectedFile)).absoluteFilePath());

    // Installed: the keys now read as words.
    const QString title = QCoreApplication::translate("MainWindow", "LabRadioConfig");
    QVERIFY(!title.isEmpty());
    QVERIFY2(title != "LabRadioConfig", qPrintable(title));
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(QCoreApplication::translate("MainWindow", "LabRadioConfig"),
             QString("LabRadioConfig"));
}

void TestTranslationLoader::loadInvalidFileInstallsNothing()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    touch(tmp.filePath("Trns_en_US.qm"), "this is not a translation file");

    QTranslator translator;
    QMap<QString, QString> map;
    // A file was found, so the result is true although nothing is installed.
    QVERIFY(loadTranslationFrom(*qApp, translator, map, tmp.path(), "en_US"));
    QCOMPARE(map.size(), 1);
    QVERIFY(translator.isEmpty());
    QCOMPARE(QCoreApplication::translate("MainWindow", "LabRadioConfig"),
             QString("LabRadioConfig"));
}

void TestTranslationLoader::loadWithoutFilesInstallsNothing()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    touch(tmp.filePath("Other_en_US.qm"));

    QTranslator translator;
    QMap<QString, QString> map;
    QVERIFY(!loadTranslationFrom(*qApp, translator, map, tmp.path(), "en_US"));
    QVERIFY(map.isEmpty());
    QVERIFY(translator.isEmpty());
    QVERIFY(!loadTranslationFrom(*qApp, translator, map, tmp.filePath("missing"), "en_US"));
}

void TestTranslationLoader::publicSearchUsesWorkingDirectory()
{
    QTemporaryDir withDict;
    QTemporaryDir withoutDict;
    QVERIFY(withDict.isValid() && withoutDict.isValid());
    QVERIFY(QDir(withDict.path()).mkdir("dict"));
    touch(withDict.filePath("dict/Trns_zh_CN.qm"));

    const QString saved = QDir::currentPath();
    QMap<QString, QString> found;
    QMap<QString, QString> none;
    QTranslator translator;
    QVERIFY(QDir::setCurrent(withDict.path()));
    const bool foundResult = searchTranslationFiles(found, "Trns", "qm");
    QVERIFY(QDir::setCurrent(withoutDict.path()));
    const bool noneResult = loadTranslation(*qApp, translator, none);
    QVERIFY(QDir::setCurrent(saved));

    QVERIFY(foundResult);
    QCOMPARE(found.keys(), QStringList{"zh_CN"});
    QCOMPARE(QFileInfo(found.value("zh_CN")).canonicalFilePath(),
             QFileInfo(withDict.filePath("dict/Trns_zh_CN.qm")).canonicalFilePath());
    QVERIFY(!noneResult);
    QVERIFY(none.isEmpty());
}

void TestTranslationLoader::lookupOrder_data()
{
    // Folders of a program started in work/ from bin/, installed with its
    // data in share/kcradioconfig/: those that hold a dict/, and the one used.
    QTest::addColumn<QStringList>("holding");
    QTest::addColumn<QString>("used");
    QTest::newRow("working directory first")
        << QStringList{"work", "bin", "share/kcradioconfig"} << "work";
    QTest::newRow("beside the program") << QStringList{"bin", "share/kcradioconfig"} << "bin";
    QTest::newRow("installed data folder")
        << QStringList{"share/kcradioconfig"} << "share/kcradioconfig";
    QTest::newRow("none: one line names the folders") << QStringList{} << QString();
}

void TestTranslationLoader::lookupOrder()
{
    QFETCH(QStringList, holding);
    QFETCH(QString, used);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QDir root(tmp.path());
    for (const QString &folder : holding) {
        QVERIFY(root.mkpath(folder + "/dict"));
        touch(root.filePath(folder + "/dict/Trns_en_US.qm"));
    }
    const QStringList folders = translationFolders(root.filePath("work"), root.filePath("bin"));
    if (used.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, qPrintable("no translations (Trns_*.qm) in " +
                                                      root.filePath("work/dict") + ", " +
                                                      root.filePath("bin/dict") + ", " +
                                                      root.filePath("share/kcradioconfig/dict") +
                                                      "; the window shows its text keys"));
    QTranslator translator;
    QMap<QString, QString> map;
    QCOMPARE(loadFirstTranslation(*qApp, translator, map, folders, "en_US"), !used.isEmpty());
    QCOMPARE(map.value("en_US"),
             used.isEmpty() ? QString() : root.filePath(used + "/dict/Trns_en_US.qm"));
}

QTEST_MAIN(TestTranslationLoader)
#include "tst_translationloader.moc"
