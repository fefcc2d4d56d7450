#pragma once

#include <cstddef>
#include <cstdint>

// The work one decode may do, in units of "one step of a decoder's loop" (a record, a run, a
// packet, a row). A decode starts with an allowance proportional to its input, and every
// bitmap it creates adds an allowance proportional to the pixels, so honest files never run
// short, while a tiny file that asks for endless work (a metafile of a million records, runs
// that write nothing) ends with a CTextException instead of a hang.
//
// The budget belongs to the outermost decode on the calling thread; decodes nested inside
// it (a JPEG inside a PICT) share it. Outside any decode, charging does nothing.
class CWorkBudget {
public:
    static constexpr uint64_t kBaseUnits = uint64_t{1} << 24;
    static constexpr uint64_t kUnitsPerInputByte = 16;
    static constexpr uint64_t kUnitsPerPixel = 16;

    // Opens the budget of a decode of inputBytes, unless one is open already.
    explicit CWorkBudget(size_t inputBytes);
    ~CWorkBudget();
    CWorkBudget(const CWorkBudget&) = delete;
    CWorkBudget& operator=(const CWorkBudget&) = delete;

    // Spends units; throws CTextException(ERR_BAD_DATA) when the decode has none left.
    static void Charge(uint64_t units = 1);
    // Spends what one row of a decoder's loop costs: a unit, and one more per 64 bytes the
    // row reads, fills or unpacks (far below the allowance an honest row's pixels bring).
    static void ChargeRow(uint64_t bytes) { Charge(1 + bytes / 64); }
    // Adds the allowance for a bitmap of this many pixels.
    static void GrantPixels(uint64_t pixels);
    // Units left in the open budget (0 when none is open).
    static uint64_t Remaining();

private:
    bool owner_;
};
