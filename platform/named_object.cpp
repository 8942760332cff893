#include "platform/named_object.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/time.h"

namespace platform {

namespace {

constexpr const char* kDefaultObjectDirectory = "/dev/shm/whorlgate";
constexpr const char* kNamespaceLockFile = ".lock";
constexpr uint32_t kLockBudgetMs = 2000;

// Creates `dir` and its missing parents; folders made here get mode 1777 so that every account
// can create objects in them, as in the system-wide namespace the kit was built for.
bool EnsureDirectory(const std::string& dir) {
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !EnsureDirectory(dir.substr(0, slash))) {
    return false;
  }
  if (mkdir(dir.c_str(), 01777) == 0) {
    chmod(dir.c_str(), 01777);
    return true;
  }
  return errno == EEXIST;
}

// Serialises create, open and close of objects between all processes: while it is held, no
// handle appears or disappears, so "is anybody holding this file" has a stable answer.
class NamespaceLock {
 public:
  // Only creating an object makes the namespace directory; closing or looking up never brings
  // back a directory that was removed.
  explicit NamespaceLock(bool createDirectory) {
    std::string dir = ObjectDirectory();
    if (createDirectory && !EnsureDirectory(dir)) return;
    std::string path = dir + "/" + kNamespaceLockFile;
    fd_ = open(path.c_str(), O_RDWR | (createDirectory ? O_CREAT : 0) | O_CLOEXEC, 0666);
    if (fd_ < 0) fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    fchmod(fd_, 0666);
    // A holder needs the lock for microseconds; one that keeps it (a process stopped or hung
    // while it held it) must not hang every other process of the kit. After the budget the
    // operation fails as if the namespace could not be reached.
    uint32_t start = GetTickCount();
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || TickBudgetSpent(start, kLockBudgetMs)) {
        close(fd_);
        fd_ = -1;
        return;
      }
      SleepMs(1);
    }
  }
  ~NamespaceLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// True when some handle (a shared flock by any process, this one included) holds the file.
// Must be called with the namespace lock held and on a descriptor that holds no lock itself.
bool FileIsHeld(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    flock(fd, LOCK_UN);
    return false;
  }
  return true;
}

size_t FileLengthFor(ObjectKind kind, uint32_t dataSize) {
  return kObjectDataOffset + (kind == ObjectKind::kSharedArea ? dataSize : 0);
}

bool MapObject(int fd, size_t length, NamedObject* object) {
  void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) return false;
  object->base = base;
  object->mappedLength = length;
  return true;
}

// Gives a fresh (or stale, now unheld) file the zero-filled contents of a new object.
bool InitialiseFile(int fd, ObjectKind kind, uint32_t dataSize, ObjectInitializer init,
                    const void* initContext, NamedObject* object) {
  size_t length = FileLengthFor(kind, dataSize);
  if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(length)) != 0) return false;
  if (!MapObject(fd, length, object)) return false;
  ObjectHeader* header = object->header();
  header->layoutVersion = kObjectLayoutVersion;
  header->kind = static_cast<uint32_t>(kind);
  header->dataSize = kind == ObjectKind::kSharedArea ? dataSize : 0;
  if (init) init(header, initContext);
  // The magic goes last: a header with the magic is a complete one.
  __atomic_store_n(&header->magic, kObjectMagic, __ATOMIC_RELEASE);
  return true;
}

// Maps a live object's file after checking that it is a whole object of the wanted kind.
bool AttachLiveFile(int fd, ObjectKind kind, NamedObject* object) {
  ObjectHeader header;
  if (pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
  if (header.magic != kObjectMagic || header.layoutVersion != kObjectLayoutVersion ||
      header.kind != static_cast<uint32_t>(kind)) {
    return false;
  }
  struct stat st;
  size_t length = FileLengthFor(kind, header.dataSize);
  if (fstat(fd, &st) != 0 || static_cast<size_t>(st.st_size) < length) return false;
  return MapObject(fd, length, object);
}

void CloseDescriptor(NamedObject* object) {
  if (object->base) munmap(object->base, object->mappedLength);
  if (object->fd >= 0) close(object->fd);
  object->base = nullptr;
  object->mappedLength = 0;
  object->fd = -1;
}

}  // namespace

std::string ObjectDirectory() {
  const char* dir = getenv("WHORLGATE_OBJECT_DIR");
  std::string result = (dir && *dir) ? dir : kDefaultObjectDirectory;
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

bool ObjectPath(const char* name, std::string* path) {
  if (!name || !*name) return false;
  // Object names are free text on the original system; here they become file names. Anything
  // but letters, digits, '_' and '-' is written as %XX, which also keeps names from starting
  // with a dot (the namespace's own lock file) or reaching outside the directory.
  static const char kHex[] = "0123456789ABCDEF";
  std::string file;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    unsigned char c = *p;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
        c == '-') {
      file += static_cast<char>(c);
    } else {
      file += '%';
      file += kHex[c >> 4];
      file += kHex[c & 15];
    }
  }
  if (file.size() > 255) return false;
  *path = ObjectDirectory() + "/" + file;
  return true;
}

bool AcquireNamedObject(const char* name, ObjectKind kind, Disposition disposition,
                        uint32_t dataSize, ObjectInitializer init, const void* initContext,
                        NamedObject* object, bool* pExisted) {
  std::string path;
  if (!ObjectPath(name, &path)) return false;
  NamespaceLock lock(disposition == Disposition::kCreateOrOpen);
  if (!lock.held()) return false;

  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  bool existed = false;
  if (fd >= 0) {
    existed = FileIsHeld(fd);
    if (!existed) {
      // Left behind by a process that died: the object is gone, only its file remains.
      unlink(path.c_str());
      close(fd);
      fd = -1;
    }
  } else if (errno != ENOENT) {
    return false;
  }
  if (!existed) {
    if (disposition == Disposition::kOpenExisting) return false;
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    fchmod(fd, 0600);
  }

  object->fd = fd;
  object->kind = kind;
  object->path = path;
  bool ok = existed ? AttachLiveFile(fd, kind, object)
                    : InitialiseFile(fd, kind, dataSize, init, initContext, object);
  if (ok) ok = flock(fd, LOCK_SH | LOCK_NB) == 0;
  if (!ok) {
    CloseDescriptor(object);
    if (!existed) unlink(path.c_str());
    return false;
  }
  if (pExisted) *pExisted = existed;
  return true;
}

void ReleaseNamedObject(NamedObject* object) {
  if (!object || object->fd < 0) return;
  NamespaceLock lock(false);
  // Converting our shared lock may drop it before it fails; that is harmless, the handle is
  // going away. Success means nobody else holds the object: it dies with this handle.
  if (lock.held() && flock(object->fd, LOCK_EX | LOCK_NB) == 0) unlink(object->path.c_str());
  CloseDescriptor(object);
}

bool NamedObjectExists(const char* name, ObjectKind kind) {
  std::string path;
  if (!ObjectPath(name, &path)) return false;
  NamespaceLock lock(false);
  if (!lock.held()) return false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ObjectHeader header;
  bool live = FileIsHeld(fd) && pread(fd, &header, sizeof header, 0) ==
                                    static_cast<ssize_t>(sizeof header) &&
              header.magic == kObjectMagic && header.kind == static_cast<uint32_t>(kind);
  close(fd);
  return live;
}

bool GrantEveryoneAccess(const char* name) {
  std::string path;
  if (!ObjectPath(name, &path)) return false;
  return chmod(path.c_str(), 0666) == 0;
}

}  // namespace platform
