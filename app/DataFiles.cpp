#include "DataFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "LocalText.h"

namespace fbx::ui {

namespace {

constexpr const char* kManualName = "ferobrixlan-manual.txt";
constexpr const char* kBuiltInManual = ":/ferobrixlan/ferobrixlan-manual.txt";

QStringList& dataDirs() {
    static QStringList dirs = [] {
        QStringList d;
#ifdef FEROBRIXLAN_DATADIR
        d << QStringLiteral(FEROBRIXLAN_DATADIR);
#endif
#ifdef FEROBRIXLAN_SOURCE_ASSETS
        d << QStringLiteral(FEROBRIXLAN_SOURCE_ASSETS);
#endif
        return d;
    }();
    return dirs;
}

QString readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

}  // namespace

QStringList sharedDataDirs() {
    return dataDirs();
}

void setSharedDataDirs(const QStringList& dirs) {
    dataDirs() = dirs;
}

QString findDataFile(const std::string& programDir, const QString& name) {
    QStringList candidates;
    if (!programDir.empty()) candidates << localText(programDir) + name;
    for (const QString& dir : dataDirs()) candidates << QDir(dir).filePath(name);
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile()) return path;
    }
    return {};
}

QString pictureName(int frame) {
    return QStringLiteral("brix%1.bmp").arg(frame);
}

QString manualText(const std::string& programDir) {
    const QString path = findDataFile(programDir, QString::fromLatin1(kManualName));
    if (!path.isEmpty()) {
        QString text = readText(path);
        if (!text.isEmpty()) return text;
    }
    return readText(QString::fromLatin1(kBuiltInManual));
}

QString iconResource() {
    return QStringLiteral(":/ferobrixlan/ferobrixlan-128.png");
}

}  // namespace fbx::ui
