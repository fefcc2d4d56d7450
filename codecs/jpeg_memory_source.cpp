#include "jpeg_memory_source.h"

#include <jerror.h>

namespace {

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) noexcept {}
void TermSource(j_decompress_ptr) noexcept {}

// Called only once the whole block has been used up.
boolean FillInputBuffer(j_decompress_ptr decompressor) noexcept {
    WARNMS(decompressor, JWRN_JPEG_EOF);
    decompressor->src->next_input_byte = kEndOfImage;
    decompressor->src->bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

void SkipInputData(j_decompress_ptr decompressor, long count) noexcept {
    if (count <= 0) return;
    jpeg_source_mgr* source = decompressor->src;
    const auto skip = static_cast<size_t>(count);
    if (skip < source->bytes_in_buffer) {
        source->next_input_byte += skip;
        source->bytes_in_buffer -= skip;
    } else {
        FillInputBuffer(decompressor);
    }
}

template <typename Manager>
Manager* PermanentManager(j_decompress_ptr decompressor) {
    void* block = (*decompressor->mem->alloc_small)(reinterpret_cast<j_common_ptr>(decompressor), JPOOL_PERMANENT,
                                                    sizeof(Manager));
    return static_cast<Manager*>(block);
}

}  // namespace

void JpegMemorySource(j_decompress_ptr decompressor, const uint8_t* data, size_t byteCount, void* clientData,
                      void (*progress)(j_common_ptr)) {
    if (decompressor->src == nullptr) decompressor->src = PermanentManager<jpeg_source_mgr>(decompressor);
    if (progress != nullptr) {
        if (decompressor->progress == nullptr)
            decompressor->progress = PermanentManager<jpeg_progress_mgr>(decompressor);
        decompressor->progress->progress_monitor = progress;
    }
    decompressor->client_data = clientData;

    jpeg_source_mgr* source = decompressor->src;
    source->next_input_byte = data;
    source->bytes_in_buffer = byteCount;
    source->init_source = InitSource;
    source->fill_input_buffer = FillInputBuffer;
    source->skip_input_data = SkipInputData;
    source->resync_to_restart = jpeg_resync_to_restart;
    source->term_source = TermSource;
}
