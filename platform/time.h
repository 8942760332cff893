// The kit's clock: a 32-bit millisecond tick that wraps like the original system's. Budgets
// are measured as unsigned differences of ticks, so a wrap costs nothing.
#pragma once

#include <cstdint>

namespace platform {

uint32_t GetTickCount();
void SleepMs(uint32_t ms);

// True once `budgetMs` have passed since `startTick`.
inline bool TickBudgetSpent(uint32_t startTick, uint32_t budgetMs) {
  return static_cast<uint32_t>(GetTickCount() - startTick) > budgetMs;
}

}  // namespace platform
