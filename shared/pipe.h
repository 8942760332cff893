// Message pipes: the one way the kit's processes talk to each other.
//
// A pipe is a 65,536-byte named shared area, a manual-reset message-ready event and a lock
// mutex, all named from a 32-bit pipe number. It carries pipe records (an 18-byte header and
// data) under one of two disciplines: one message at a time, cut into chunks (client and
// server), or a queue of records ended by a zero word (the trace pipe).
#pragma once

#include <cstdint>

#include "platform/shared_area.h"
#include "platform/sync.h"

#define PIPE_ERR_OPEN (-122)
#define PIPE_ERR_WRITE (-123)
#ifndef WG_FUNCTION_FAILED
#define WG_FUNCTION_FAILED (-127)
#endif

inline constexpr uint32_t kPipeAreaSize = 65536;
inline constexpr uint32_t kPipeRecordHeaderSize = 18;
inline constexpr uint32_t kPipeMaxChunk = kPipeAreaSize - kPipeRecordHeaderSize;  // 65,518
inline constexpr uint16_t kPipeRecordType = 25;
inline constexpr int kPipeNameLength = 260;

inline constexpr int32_t kServerPipeNumber = 0;
inline constexpr int32_t kTracePipeNumber = -2;

// Field offsets of the pipe record header (little-endian, packed).
inline constexpr uint32_t kPipeRecSize = 0;         // data length + 18; 0 ends a queue
inline constexpr uint32_t kPipeRecPipeNumber = 4;
inline constexpr uint32_t kPipeRecType = 8;         // always kPipeRecordType
inline constexpr uint32_t kPipeRecBytesToFollow = 10;
inline constexpr uint32_t kPipeRecChunkLength = 14;
inline constexpr uint32_t kPipeRecData = 18;

// Control record of one opened pipe. Allocated zero-filled by the caller, handed to an open
// call, freed by the caller after closing.
struct PipeCntl {
  platform::SharedArea* hMapping;
  uint8_t* pView;
  platform::Event* hMsgRdy;
  platform::Mutex* hLock;
  int32_t iPipeNumber;
  char szMappingName[kPipeNameLength];
};

// Object names of pipe `iPipeNumber`: the bare bases for 0, otherwise the bases followed by
// the number's hexadecimal digits, least significant first. Each buffer holds 260 characters.
void WGMakePipeObjectNames(char* pszMapping, char* pszEvent, char* pszMutex, int32_t iPipeNumber);

// Creates the pipe's objects, or opens them when they exist (the reading side, and every side
// of the trace pipe).
int16_t WGOpenInputMessagePipe(PipeCntl* pPipe, int32_t iPipeNumber);
// Opens the objects of a pipe that another process created; creates nothing.
int16_t WGOpenOutputMessagePipe(PipeCntl* pPipe, int32_t iPipeNumber);
int16_t WGCloseMessagePipe(PipeCntl* pPipe);
bool WGApplyNullDACLToSystemObject(const char* pszObjectName);

// Single-message discipline.
int16_t WGWriteOutputPipe(PipeCntl* pPipe, const uint8_t* pRecord, uint32_t uiLength);
int16_t WGSendPipeMessage(PipeCntl* pPipe, const uint8_t* pMessage, uint32_t uiLength);
// Returns the reassembled message in a malloc'ed buffer that the caller frees, and its length
// in *puiLength when given; null when no whole message came within `uiBudgetMs`.
uint8_t* WGReadPipe(PipeCntl* pPipe, uint32_t uiBudgetMs, uint32_t* puiLength = nullptr);
bool WGFlushInputPipe(PipeCntl* pPipe);
uint32_t WGPipeMessageWaiting(PipeCntl* pPipe, uint16_t uiRecordType);

// Record-queue discipline.
int16_t WGAppendPipeRecord(PipeCntl* pPipe, const uint8_t* pData, uint32_t uiLength);
// Returns a malloc'ed copy of the first record's data (the caller frees it) and its length in
// *puiLength when given; null when the queue is empty.
uint8_t* WGTakePipeRecord(PipeCntl* pPipe, uint32_t* puiLength = nullptr);
