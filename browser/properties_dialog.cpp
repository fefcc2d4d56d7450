#include "browser/properties_dialog.h"

#include "browser/namespace_access.h"
#include "codecs/format_registry.h"
#include "imagelib/text_exception.h"
#include "isolation/decoder_pool.h"
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

CPropertiesDialog::CPropertiesDialog(const QString& path, QWidget* parent)
    : QDialog(parent), form_(new QFormLayout), inbox_(this) {
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
    if (info.isFile()) StartPictureProbe(path);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

CPropertiesDialog::~CPropertiesDialog() {
    probe_.Cancel();
    worker_.waitForDone();
}

void CPropertiesDialog::StartPictureProbe(const QString& path) {
    const QString reading = QStringLiteral("Reading...");
    picture_ = AddRow(QStringLiteral("Picture"), reading);
    dimensions_ = AddRow(QStringLiteral("Dimensions"), reading);
    depth_ = AddRow(QStringLiteral("Depth"), reading);
    const CDecodeContext context = probe_;
    StartOnPool(worker_, [this, path, context] {
        QString format, dimensions, depth;
        try {
            ImageFormat recognised{};
            const ImageInfo info =
                CDecoderPool::Shared()->ProbeFile(QFile::encodeName(path).toStdString(), context, &recognised);
            format = QString::fromLatin1(FormatName(recognised));
            dimensions = QStringLiteral("%1 x %2 pixels").arg(info.width).arg(info.height);
            depth = QStringLiteral("%1 bits per pixel").arg(info.bitsPerPixel);
        } catch (const CTextException& error) {
            format = QStringLiteral("not readable: %1").arg(QString::fromStdString(error.Text()).trimmed());
        }
        inbox_.Post([this, format, dimensions, depth] {
            picture_->setText(format);
            if (!dimensions.isEmpty()) {
                dimensions_->setText(dimensions);
                depth_->setText(depth);
            }
            if (dimensions.isEmpty()) {
                // An unreadable file has no size or depth to tell.
                form_->removeRow(dimensions_);
                form_->removeRow(depth_);
                dimensions_ = depth_ = nullptr;
            }
            emit PictureRead();
        });
    });
}

QLabel* CPropertiesDialog::AddRow(const QString& label, const QString& value) {
    if (value.isEmpty()) return nullptr;
    auto* field = new QLabel(value, this);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form_->addRow(label + QLatin1Char(':'), field);
    return field;
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
