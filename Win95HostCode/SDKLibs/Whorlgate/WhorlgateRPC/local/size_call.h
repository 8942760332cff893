// The shape every exported size call shares.
#pragma once

#include <cstdint>

// Traces the entry of `pszName`, "<name>: size =" with `uiSize` (API Result) and the exit,
// all where "RPC DLL", and returns `uiSize`.
uint16_t TraceSizeCall(const char* pszName, uint16_t uiSize);
