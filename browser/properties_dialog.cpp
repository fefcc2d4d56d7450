#include "browser/properties_dialog.h"

#include "browser/namespace_access.h"
#include "codecs/auto_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "platform/file_manager.h"
#include "platform/modal_seam.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QVBoxLayout>

namespace {

QString Permissions(const QFileInfo& info) {
    const QFile::Permissions p = info.permissions();
    QString text = info.isDir() ? QStringLiteral("d") : QStringLiteral("-");
    const QFile::Permission bits[9] = {QFile::ReadOwner, QFile::WriteOwner, QFile::ExeOwner,
                                       QFile::ReadGroup, QFile::WriteGroup, QFile::ExeGroup,
                                       QFile::ReadOther, QFile::WriteOther, QFile::ExeOther};
    for (int i = 0; i < 9; ++i) text += (p & bits[i]) ? QLatin1Char("rwx"[i % 3]) : QLatin1Char('-');
    return QStringLiteral("%1 (owner %2, group %3)").arg(text, info.owner(), info.group());
}

QString Date(const QDateTime& time) {
    return time.isValid() ? QLocale().toString(time.toLocalTime(), QLocale::LongFormat) : QString();
}

}  // namespace

CPropertiesDialog::CPropertiesDialog(const QString& path, QWidget* parent) : QDialog(parent), form_(new QFormLayout) {
    const QFileInfo info(path);
    setWindowTitle(QStringLiteral("%1 Properties").arg(info.fileName().isEmpty() ? path : info.fileName()));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form_);

    AddRow(QStringLiteral("Name"), info.fileName().isEmpty() ? path : info.fileName());
    AddRow(QStringLiteral("Folder"), info.absolutePath());
    if (info.isDir()) {
        const qsizetype items =
            QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size();
        AddRow(QStringLiteral("Kind"), QStringLiteral("Folder"));
        AddRow(QStringLiteral("Contents"), QStringLiteral("%1 items").arg(items));
    } else {
        AddRow(QStringLiteral("Kind"), QMimeDatabase().mimeTypeForFile(info).comment());
        AddRow(QStringLiteral("Size"), QStringLiteral("%1 (%2 bytes)")
                                           .arg(QLocale().formattedDataSize(info.size()))
                                           .arg(QLocale().toString(info.size())));
    }
    AddRow(QStringLiteral("Created"), Date(info.birthTime()));
    AddRow(QStringLiteral("Modified"), Date(info.lastModified()));
    AddRow(QStringLiteral("Accessed"), Date(info.lastRead()));
    AddRow(QStringLiteral("Permissions"), Permissions(info));
    if (info.isFile()) AddPictureRows(path);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CPropertiesDialog::AddPictureRows(const QString& path) {
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    try {
        decoder.DecodeFile(QFile::encodeName(path).toStdString(), bitmap, 0);
    } catch (const CTextException& error) {
        AddRow(QStringLiteral("Picture"), QStringLiteral("not readable: %1").arg(QString::fromStdString(error.Text()).trimmed()));
        return;
    }
    AddRow(QStringLiteral("Picture"), QString::fromLatin1(FormatName(decoder.LastFormat())));
    AddRow(QStringLiteral("Dimensions"), QStringLiteral("%1 x %2 pixels").arg(bitmap.Width()).arg(bitmap.Height()));
    AddRow(QStringLiteral("Depth"), QStringLiteral("%1 bits per pixel").arg(bitmap.BitsPerPixel()));
}

void CPropertiesDialog::AddRow(const QString& label, const QString& value) {
    if (value.isEmpty()) return;
    auto* field = new QLabel(value, this);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form_->addRow(label + QLatin1Char(':'), field);
}

QString CPropertiesDialog::Value(const QString& label) const {
    for (int row = 0; row < form_->rowCount(); ++row) {
        const auto* name = qobject_cast<QLabel*>(form_->itemAt(row, QFormLayout::LabelRole)->widget());
        const auto* field = qobject_cast<QLabel*>(form_->itemAt(row, QFormLayout::FieldRole)->widget());
        if (name && field && name->text() == label + QLatin1Char(':')) return field->text();
    }
    return {};
}

void ShowPathProperties(const QString& path, QWidget* parent) {
    const QString target = path.isEmpty() ? CNamespaceAccess::DesktopFolder() : path;
    if (!QFileInfo::exists(target)) return;
    if (ShowItemPropertiesInFileManager(target)) return;
    CPropertiesDialog dialog(target, parent);
    ModalSeam().RunDialog(dialog);
}
