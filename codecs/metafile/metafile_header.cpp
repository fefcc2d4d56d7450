#include "metafile_header.h"

#include "record_reader.h"

#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <algorithm>

namespace metafile {

namespace {

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmrEof = 14;
constexpr size_t kMinEmfHeader = 88;

[[noreturn]] void NotAMetafile() {
    RaiseError(ERR_FEATURE_UNAVAILABLE, "Windows Metafile functions failed to load this image.");
}

QRect ReadRect(CRecordReader& in) {
    const int left = in.I32();
    const int top = in.I32();
    const int right = in.I32();
    const int bottom = in.I32();
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// The palette of the end-of-file record, if the record chain reaches one.
std::vector<QRgb> FindPalette(std::span<const uint8_t> records) {
    size_t at = 0;
    while (records.size() - at >= 8) {
        CRecordReader in(records.subspan(at));
        const uint32_t type = in.U32();
        const uint32_t size = in.U32();
        if (size < 8 || size % 4 != 0 || size > records.size() - at) return {};
        if (type == kEmrEof) {
            try {
                CRecordReader record(records.subspan(at, size));
                record.Skip(8);
                const uint32_t count = record.U32();
                const uint32_t offset = record.U32();
                CRecordReader entries = record.At(offset, count, 4);
                std::vector<QRgb> palette;
                for (uint32_t i = 0; i < count; ++i) {
                    const auto e = entries.Bytes(4);
                    palette.push_back(qRgb(e[0], e[1], e[2]));
                }
                return palette;
            } catch (const CRecordTooShort&) {
                return {};
            }
        }
        at += size;
    }
    return {};
}

}  // namespace

WmfFile ParseWmf(std::span<const uint8_t> data) {
    WmfFile file;
    try {
        CRecordReader in(data);
        if (data.size() >= 4 && in.U32() == kPlaceableKey) {
            in.U16();  // handle
            PlaceableHeader p;
            const int left = in.I16();
            const int top = in.I16();
            const int right = in.I16();
            const int bottom = in.I16();
            p.box = QRect(QPoint(left, top), QPoint(right, bottom));
            p.unitsPerInch = in.U16();
            in.Skip(6);  // reserved, checksum
            file.placeable = p;
        } else {
            in.Seek(0);
        }
        const size_t start = in.Position();
        const uint16_t type = in.U16();
        const uint16_t headerWords = in.U16();
        const uint16_t version = in.U16();
        in.U32();  // size in words: often wrong, the data's own size rules
        file.objects = in.U16();
        in.U32();  // largest record
        in.U16();  // unused
        if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0300)) NotAMetafile();
        file.records = data.subspan(start + 18);
    } catch (const CRecordTooShort&) {
        NotAMetafile();
    }
    Trace(3, "Windows metafile header is ok.\n");
    return file;
}

EmfFile ParseEmf(std::span<const uint8_t> data) {
    EmfFile file;
    try {
        CRecordReader in(data);
        const uint32_t type = in.U32();
        const uint32_t size = in.U32();
        if (type != kEmrHeader || size < kMinEmfHeader || size % 4 != 0 || size > data.size()) NotAMetafile();
        file.bounds = ReadRect(in);
        file.frame = ReadRect(in);
        const uint32_t signature = in.U32();
        in.U32();  // version
        const uint32_t bytes = in.U32();
        in.U32();  // records
        file.handles = in.U16();
        in.U16();  // reserved
        const uint32_t descriptionChars = in.U32();
        const uint32_t descriptionOffset = in.U32();
        in.U32();  // palette entries: the end-of-file record holds them
        const int deviceX = in.I32();
        const int deviceY = in.I32();
        const int millimetresX = in.I32();
        const int millimetresY = in.I32();
        if (signature != kEmfSignature || bytes < size || bytes > data.size()) NotAMetafile();
        if (descriptionChars != 0) {
            // The description must lie inside the header record.
            CRecordReader header(data.first(size));
            header.At(descriptionOffset, descriptionChars, 2);
        }
        file.devicePixels = QSizeF(deviceX, deviceY);
        file.deviceMillimetres = QSizeF(millimetresX, millimetresY);
        // Newer headers give the reference device's size in micrometres too, more exactly.
        // The description may start where those fields would be: then there are none.
        const size_t fieldsEnd = descriptionChars != 0 ? std::min<size_t>(size, descriptionOffset) : size;
        if (fieldsEnd >= kMinEmfHeader + 20) {
            in.Skip(12);  // pixel format size and offset, OpenGL flag
            const int micrometresX = in.I32();
            const int micrometresY = in.I32();
            if (micrometresX > 0 && micrometresY > 0) file.deviceMillimetres = QSizeF(micrometresX / 1000.0, micrometresY / 1000.0);
        }
        file.records = data.first(bytes);
    } catch (const CRecordTooShort&) {
        NotAMetafile();
    }
    file.palette = FindPalette(file.records);
    Trace(3, "Enhanced metafile header is ok.\n");
    return file;
}

}  // namespace metafile
