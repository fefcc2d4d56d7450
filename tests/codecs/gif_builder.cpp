#include "gif_builder.h"

std::vector<uint8_t> EncodeGif(int width, int height, int background, const GifMap& globalMap,
                               const std::vector<GifImage>& images, int repeats) {
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, [](GifFileType* g, const GifByteType* data, int n) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(g->UserData);
        bytes->insert(bytes->end(), data, data + n);
        return n;
    }, &error);
    auto makeMap = [](const GifMap& map) {
        return map.empty() ? nullptr : GifMakeMapObject(static_cast<int>(map.size()), map.data());
    };
    ColorMapObject* global = makeMap(globalMap);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, width, height, 8, background, global);
    if (repeats >= 0) {
        const GifByteType name[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
        const GifByteType loop[] = {1, static_cast<GifByteType>(repeats & 0xFF), static_cast<GifByteType>(repeats >> 8)};
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, sizeof name, name);
        EGifPutExtensionBlock(gif, sizeof loop, loop);
        EGifPutExtensionTrailer(gif);
    }
    for (const GifImage& image : images) {
        ColorMapObject* local = makeMap(image.localMap);
        if (image.transparentIndex >= 0 || image.disposal != 0 || image.delayCentiseconds != 0) {
            const GifByteType control[4] = {
                static_cast<GifByteType>((image.disposal << 2) | (image.transparentIndex >= 0 ? 1 : 0)),
                static_cast<GifByteType>(image.delayCentiseconds & 0xFF),
                static_cast<GifByteType>(image.delayCentiseconds >> 8),
                static_cast<GifByteType>(image.transparentIndex >= 0 ? image.transparentIndex : 0)};
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
        }
        EGifPutImageDesc(gif, image.left, image.top, image.width, image.height, image.interlaced, local);
        std::vector<int> order;
        const int passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
        for (int pass = 0; pass < (image.interlaced ? 4 : 1); ++pass)
            for (int y = image.interlaced ? passes[pass][0] : 0; y < image.height; y += image.interlaced ? passes[pass][1] : 1)
                order.push_back(y);
        std::vector<GifPixelType> row(static_cast<size_t>(image.width));
        for (int y : order) {
            for (int x = 0; x < image.width; ++x) row[static_cast<size_t>(x)] = static_cast<GifPixelType>(image.pixel(x, y));
            EGifPutLine(gif, row.data(), image.width);
        }
        GifFreeMapObject(local);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(global);
    return out;
}
