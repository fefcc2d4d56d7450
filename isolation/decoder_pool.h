#pragma once

#include "imagelib/decode_context.h"
#include "imagelib/image_metadata.h"
#include "isolation/decoder_process.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CMemfdBitmap;

// A few decoder helpers kept running for the decodes of a whole program: as many as it has
// cores (at most four), started when first needed and started again when one dies. Any
// thread may decode through the pool; a decode waits for a free helper (or its context's
// cancel flag). The program opens the file itself and hands the helper the descriptor.
//
// Failures are the library's: what the helper's decoder raised, carried back with its code
// and text; codes 3, 4 and 5 when the file cannot be opened here; code 2 when the helper
// crashed, hung or answered nonsense; code 10 when it was killed for memory; code 6 when no
// helper can be started.
class CDecoderPool {
public:
    struct Options {
        DecoderHelperOptions helper;
        int size = 1;
    };

    explicit CDecoderPool(Options options);
    // Waits for nothing: a decode still running holds the pool through Shared's pointer.
    ~CDecoderPool();
    CDecoderPool(const CDecoderPool&) = delete;
    CDecoderPool& operator=(const CDecoderPool&) = delete;

    // The program's pool, made on first use with DefaultOptions.
    static std::shared_ptr<CDecoderPool> Shared();
    // Replaces the program's pool (tests give theirs a short watchdog); decodes running on the
    // old one finish there.
    static void SetShared(std::shared_ptr<CDecoderPool> pool);
    // The helper named by VT_DECODER_HELPER, else vtview-decoder beside the running program;
    // one helper a core; the process defaults of the storage limit and the trace.
    static Options DefaultOptions();

    std::shared_ptr<CMemfdBitmap> DecodeFile(const std::string& fileName, const CDecodeContext& context, int depth,
                                             bool makeOpaque = false);
    ImageInfo ProbeFile(const std::string& fileName, const CDecodeContext& context, ImageFormat* format = nullptr);

    // Starts a first helper now, when none runs yet, so that its start-up overlaps the
    // program's own instead of delaying the first picture. Waits for nothing.
    void Prestart();

    // Helpers started so far, the first ones included.
    int HelpersStarted() const;
    // How this pool starts its helpers (a helper of an animation's own is started alike).
    const DecoderHelperOptions& HelperOptions() const { return options_.helper; }

private:
    template <typename Work>
    auto Run(const std::string& fileName, const CDecodeContext& context, Work&& work);
    std::unique_ptr<CDecoderProcess> Acquire(const CDecodeContext& context);
    void Release(std::unique_ptr<CDecoderProcess> helper);
    std::unique_ptr<CDecoderProcess> Start();

    const Options options_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::vector<std::unique_ptr<CDecoderProcess>> idle_;  // guarded by mutex_
    int lent_ = 0;                                         // guarded by mutex_
    int started_ = 0;                                      // guarded by mutex_
};
