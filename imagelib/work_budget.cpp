#include "work_budget.h"

#include "decode_context.h"
#include "text_exception.h"

namespace {

struct BudgetState {
    bool open = false;
    uint64_t remaining = 0;
};

thread_local BudgetState t_budget;

}  // namespace

CWorkBudget::CWorkBudget(size_t inputBytes) : owner_(!t_budget.open) {
    if (!owner_) return;
    t_budget.open = true;
    t_budget.remaining = kBaseUnits + kUnitsPerInputByte * static_cast<uint64_t>(inputBytes);
}

CWorkBudget::~CWorkBudget() {
    if (owner_) t_budget = BudgetState{};
}

void CWorkBudget::Charge(uint64_t units) {
    if (!t_budget.open) return;
    // Every loop of a decoder charges its budget, so this is where a cancel is noticed.
    CheckDecodeCancelled();
    if (units > t_budget.remaining) {
        t_budget.remaining = 0;
        throw CTextException(ERR_BAD_DATA, "Decoder error: the file asks for far more work than its picture needs.\n");
    }
    t_budget.remaining -= units;
}

void CWorkBudget::GrantPixels(uint64_t pixels) {
    if (t_budget.open) t_budget.remaining += kUnitsPerPixel * pixels;
}

uint64_t CWorkBudget::Remaining() { return t_budget.open ? t_budget.remaining : 0; }
