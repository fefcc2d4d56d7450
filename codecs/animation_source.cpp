#include "animation_source.h"

#include "format_registry.h"

#include "imagelib/byte_source.h"
#include "imagelib/decode_steps.h"

#include <algorithm>

namespace {

// fd < 0: the file is opened by its name.
std::unique_ptr<CAnimationReader> OpenFrom(int fd, const std::string& fileName, const CDecodeContext& context) {
    std::unique_ptr<CAnimationReader> reader;
    RunDecode(&context, [&] {
        CMappedFileSource source(nullptr);
        if (const int result = fd < 0 ? source.Open(fileName) : source.OpenDescriptor(fd, fileName); result != 0)
            RaiseError(result, FormatText("Opening %s failed", fileName.c_str()));
        const size_t size = source.DataSize();
        const uint8_t* data = source.RemainingData();
        const FormatEntry* entry =
            FindFormat(DetectFormat(data, std::min(size, kDetectionHeaderSize), fileName));
        if (entry == nullptr || entry->openAnimation == nullptr) return;
        std::vector<uint8_t> bytes(data, data + size);
        if (source.Shrunk())
            RaiseError(ERR_END_OF_DATA, FormatText("%s shrank while it was being read.", fileName.c_str()));
        source.Close();
        reader = entry->openAnimation(std::move(bytes), context);
        if (reader && reader->FrameCount() < 2) reader.reset();
    });
    return reader;
}

}  // namespace

std::unique_ptr<CAnimationReader> OpenAnimation(const std::string& fileName, const CDecodeContext& context) {
    return OpenFrom(-1, fileName, context);
}

std::unique_ptr<CAnimationReader> OpenAnimation(int fd, const std::string& fileName, const CDecodeContext& context) {
    return OpenFrom(fd, fileName, context);
}
