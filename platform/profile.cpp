#include "platform/profile.h"

#include <QFileInfo>
#include <QSettings>

namespace Profile {
namespace {

const char* const kRecentSection = "Recent File List";

QString Key(const QString& section, const QString& entry) { return section + QLatin1Char('/') + entry; }

QSettings Store() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(kOrganization),
                     QString::fromLatin1(kApplication));
}

QString RecentEntry(int index) { return QStringLiteral("File%1").arg(index + 1); }

}  // namespace

int GetInt(const QString& section, const QString& entry, int defaultValue) {
    bool ok = false;
    const int value = Store().value(Key(section, entry)).toString().trimmed().toInt(&ok);
    return ok ? value : defaultValue;
}

void WriteInt(const QString& section, const QString& entry, int value) {
    Store().setValue(Key(section, entry), value);
}

QString GetString(const QString& section, const QString& entry, const QString& defaultValue) {
    return Store().value(Key(section, entry), defaultValue).toString();
}

void WriteString(const QString& section, const QString& entry, const QString& value) {
    Store().setValue(Key(section, entry), value);
}

QByteArray GetBinary(const QString& section, const QString& entry) {
    return Store().value(Key(section, entry)).toByteArray();
}

void WriteBinary(const QString& section, const QString& entry, const QByteArray& value) {
    Store().setValue(Key(section, entry), value);
}

QStringList RecentFiles() {
    QStringList files;
    for (int i = 0; i < kRecentFileCount; ++i) {
        const QString path = GetString(QString::fromLatin1(kRecentSection), RecentEntry(i));
        if (!path.isEmpty()) files << path;
    }
    return files;
}

namespace {

void WriteRecentFiles(const QStringList& files) {
    QSettings store = Store();
    for (int i = 0; i < kRecentFileCount; ++i) {
        const QString key = Key(QString::fromLatin1(kRecentSection), RecentEntry(i));
        if (i < files.size())
            store.setValue(key, files[i]);
        else
            store.remove(key);
    }
}

}  // namespace

void AddRecentFile(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    QStringList files = RecentFiles();
    files.removeAll(full);
    files.prepend(full);
    WriteRecentFiles(files);
}

void ClearRecentFiles() { WriteRecentFiles({}); }

}  // namespace Profile
