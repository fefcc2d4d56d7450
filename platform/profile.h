#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The per-user settings of the viewer: an INI file under the XDG config folder, organisation
// "Vantoro Software 500", application "Vantoro Software Image Viewer". Sections and value
// names are those the viewer has always used ("Settings", "BarState", ...).
namespace Profile {

inline constexpr const char* kOrganization = "Vantoro Software 500";
inline constexpr const char* kApplication = "Vantoro Software Image Viewer";

// Missing values and values that are not whole numbers read as the default.
int GetInt(const QString& section, const QString& entry, int defaultValue);
void WriteInt(const QString& section, const QString& entry, int value);
QString GetString(const QString& section, const QString& entry, const QString& defaultValue = {});
void WriteString(const QString& section, const QString& entry, const QString& value);
QByteArray GetBinary(const QString& section, const QString& entry);
void WriteBinary(const QString& section, const QString& entry, const QByteArray& value);

// The recent-file list: at most four paths, the latest first.
inline constexpr int kRecentFileCount = 4;
QStringList RecentFiles();
void AddRecentFile(const QString& path);
void ClearRecentFiles();

}  // namespace Profile
