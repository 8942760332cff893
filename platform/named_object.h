// Named kernel objects of the kit: one file per object in one namespace directory.
//
// An object lives while any process holds a handle to it (an open descriptor with a shared
// flock on its file) and disappears with the last handle, also when the holder is killed. The
// file layout is part of the contract with other processes (docs/named-objects.md).
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class ObjectKind : uint32_t {
  kSharedArea = 1,
  kEvent = 2,
  kMutex = 3,
  kWindow = 4,
};

// The first page of every object file. Offsets are fixed (checked below): another program
// that meets these objects reads and writes the same places.
struct ObjectHeader {
  uint32_t magic;           // 0: kObjectMagic
  uint32_t layoutVersion;   // 4: kObjectLayoutVersion
  uint32_t kind;            // 8: ObjectKind
  uint32_t dataSize;        // 12: bytes of data at kObjectDataOffset (shared areas only)
  uint32_t eventState;      // 16: events: 0 clear, 1 set; a futex word
  uint32_t eventManualReset;// 20: events: 1 manual reset, 0 auto reset
  uint8_t reserved[40];     // 24
  pthread_mutex_t mutex;    // 64: mutexes: process-shared, robust, recursive
};

inline constexpr uint32_t kObjectMagic = 0x424F4757;  // "WGOB"
inline constexpr uint32_t kObjectLayoutVersion = 1;
inline constexpr size_t kObjectDataOffset = 4096;
static_assert(offsetof(ObjectHeader, eventState) == 16);
static_assert(offsetof(ObjectHeader, eventManualReset) == 20);
static_assert(offsetof(ObjectHeader, mutex) == 64);
static_assert(sizeof(ObjectHeader) <= kObjectDataOffset);

// One open handle of a named object.
struct NamedObject {
  int fd = -1;
  void* base = nullptr;  // mapping of the whole file
  size_t mappedLength = 0;
  ObjectKind kind = ObjectKind::kSharedArea;
  std::string path;

  ObjectHeader* header() const { return static_cast<ObjectHeader*>(base); }
  uint8_t* data() const { return static_cast<uint8_t*>(base) + kObjectDataOffset; }
};

enum class Disposition {
  kCreateOrOpen,  // create it zero-filled, or open it when a live one exists
  kOpenExisting,  // open a live one only; never creates anything
};

// Fills a freshly created object's header beyond the common fields (the mutex, the event's
// initial state). Runs while the namespace is locked, before any other process can see it.
using ObjectInitializer = void (*)(ObjectHeader* header, const void* context);

// Opens a handle to the object `name` of `kind` into `object` (which must be fresh). With
// kCreateOrOpen, *pExisted (when given) tells whether a live object was there before. Fails
// (false) when the name is unusable, the file cannot be opened, or the name belongs to a live
// object of another kind.
bool AcquireNamedObject(const char* name, ObjectKind kind, Disposition disposition,
                        uint32_t dataSize, ObjectInitializer init, const void* initContext,
                        NamedObject* object, bool* pExisted);

// Closes the handle; the last handle of an object removes its file.
void ReleaseNamedObject(NamedObject* object);

// True when a live object of `kind` named `name` exists (some process holds a handle).
bool NamedObjectExists(const char* name, ObjectKind kind);

// Makes the object's file readable and writable by every account.
bool GrantEveryoneAccess(const char* name);

// The namespace directory: $WHORLGATE_OBJECT_DIR, default /dev/shm/whorlgate.
std::string ObjectDirectory();

// Path of the object file for `name`; false for a name that cannot be a file name.
bool ObjectPath(const char* name, std::string* path);

}  // namespace platform
