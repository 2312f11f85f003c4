#pragma once
// Files as the station uses them: opened with no lock taken, so trading
// systems can read a table while the station writes it; every failure is a
// FileError with a cause the callers react to (lock held by another
// process, network share gone, ...) and the errno behind it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class FileCause {
    None,
    NotFound,       // ENOENT, ENOTDIR
    LockViolation,  // another process holds a lock on the range
    NetworkLost,    // the network share or its server went away
    AccessDenied,   // EACCES, EPERM, EROFS
    Other,
};

// The one place where errno values are mapped to causes:
//   NotFound       ENOENT ENOTDIR
//   LockViolation  EAGAIN EWOULDBLOCK EDEADLK EBUSY ETXTBSY ENOLCK
//   NetworkLost    ESTALE ENETDOWN ENETUNREACH ENETRESET ECONNABORTED ECONNRESET
//                  ENOTCONN EHOSTDOWN EHOSTUNREACH ENOLINK ECOMM EREMOTEIO
//                  ETIMEDOUT
//   AccessDenied   EACCES EPERM EROFS
//   Other          everything else
FileCause CauseOfErrno(int err);
const char* CauseName(FileCause cause);

struct FileError {
    FileCause cause = FileCause::None;
    int osError = 0;  // errno
    std::string fileName;

    bool failed() const { return cause != FileCause::None; }
};

enum class FileOp {
    Open,
    Create,
    Read,
    Write,
    Seek,
    SetLength,
    Flush,
    Close,
    Remove,
    Rename,
    Stat,
    SetTimes,
    List,
    MakeDir,
};
constexpr int kFileOpKinds = 14;
const char* FileOpName(FileOp op);

// One open file. Operations return false on failure and leave the reason in
// error(); a failed operation never throws.
class File {
  public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file with no lock (readers and writers may share it).
    bool open(const std::string& path, bool writable = true);
    // Creates the file, or truncates an existing one, for reading and writing.
    bool create(const std::string& path);
    bool close();

    bool seek(int64_t offset);  // from the start of the file
    // Reads up to n bytes at the current position; *got is what was read
    // (less than n at the end of the file).
    bool read(void* buf, size_t n, size_t* got);
    // Writes all n bytes at the current position.
    bool write(const void* buf, size_t n);
    // Positioned forms that do not move the current position.
    bool readAt(int64_t offset, void* buf, size_t n, size_t* got);
    bool writeAt(int64_t offset, const void* buf, size_t n);

    bool setLength(int64_t length);
    bool flush();  // forces written data to disk
    bool size(int64_t* out);

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    const FileError& error() const { return error_; }

  private:
    bool fail(FileOp op, int err);
    bool injected(FileOp op);

    int fd_ = -1;
    std::string path_;
    FileError error_;
};

struct FileStatus {
    int64_t size = 0;
    int64_t modified = 0;  // seconds since 1970
    int64_t accessed = 0;
    bool isDirectory = false;
};

struct DirEntry {
    std::string name;
    bool isDirectory = false;
};

// Directory and name operations. The FileError pointer may be null.
bool RemoveFile(const std::string& path, FileError* err = nullptr);
bool RenameFile(const std::string& from, const std::string& to, FileError* err = nullptr);
bool StatFile(const std::string& path, FileStatus* out, FileError* err = nullptr);
bool SetFileTimes(const std::string& path, int64_t accessed, int64_t modified,
                  FileError* err = nullptr);
// Lists the entries of a directory, without "." and "..", sorted by name.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out, FileError* err = nullptr);
// Creates one directory level; an existing directory is success.
bool MakeDirectory(const std::string& path, FileError* err = nullptr);
bool IsDirectory(const std::string& path);

// Fault injection, for tests: the seam through which a test makes the Nth
// file operation of a kind fail with a chosen cause, and watches the
// operations that happen.
namespace faults {

struct FileFault {
    FileOp op = FileOp::Write;
    int skip = 0;   // operations of this kind that still succeed first
    int times = 1;  // consecutive failures after that
    FileCause cause = FileCause::Other;
    int osError = 0;           // 0: a representative errno for the cause
    std::string pathContains;  // only files whose path contains this text
};

void AddFileFault(const FileFault& fault);
void ClearFileFaults();
// Failures still to be delivered by the installed faults.
int PendingFileFaults();

// Called for every operation that reaches the file system (after faults were
// applied), with the number of bytes for reads and writes.
using FileObserver = std::function<void(FileOp op, const std::string& path, size_t bytes)>;
void SetFileObserver(FileObserver observer);

// Clears faults and observer when the test scope ends.
class ScopedFileFaults {
  public:
    ScopedFileFaults() = default;
    ~ScopedFileFaults();
    ScopedFileFaults(const ScopedFileFaults&) = delete;
    ScopedFileFaults& operator=(const ScopedFileFaults&) = delete;
    void add(const FileFault& f) { AddFileFault(f); }
};

}  // namespace faults
}  // namespace platform
