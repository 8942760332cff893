// The decision step of the local template comparison, shared by the exported match calls.
#pragma once

#include "whorlgate/wg_extended.h"

// Turns the adapter's result and score into the call's result: criteria, when given, decide in
// place of the minimum score, and the details receive the outcome. A result other than
// WG_MATCH or WG_NO_MATCH is passed on with the details untouched.
WGResult DecideMatch(WGResult iAdapterResult, float fScore, const WGMatchCriteria* pCriteria,
                     WGMatchDetails* pDetails);
