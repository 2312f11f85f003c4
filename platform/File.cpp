#include "platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

namespace platform {

FileCause CauseOfErrno(int err) {
    switch (err) {
        case 0:
            return FileCause::None;
        case ENOENT:
        case ENOTDIR:
            return FileCause::NotFound;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case EDEADLK:
        case EBUSY:
        case ETXTBSY:
        case ENOLCK:
            return FileCause::LockViolation;
        case ESTALE:
        case ENETDOWN:
        case ENETUNREACH:
        case ENETRESET:
        case ECONNABORTED:
        case ECONNRESET:
        case ENOTCONN:
        case EHOSTDOWN:
        case EHOSTUNREACH:
        case ENOLINK:
        case ECOMM:
        case EREMOTEIO:
        case ETIMEDOUT:
            return FileCause::NetworkLost;
        case EACCES:
        case EPERM:
        case EROFS:
            return FileCause::AccessDenied;
        default:
            return FileCause::Other;
    }
}

const char* CauseName(FileCause cause) {
    switch (cause) {
        case FileCause::None:
            return "none";
        case FileCause::NotFound:
            return "not found";
        case FileCause::LockViolation:
            return "lock violation";
        case FileCause::NetworkLost:
            return "network lost";
        case FileCause::AccessDenied:
            return "access denied";
        case FileCause::Other:
            return "other";
    }
    return "other";
}

const char* FileOpName(FileOp op) {
    static const char* const names[kFileOpKinds] = {
        "open",  "create", "read",   "write", "seek",     "setLength", "flush",
        "close", "remove", "rename", "stat",  "setTimes", "list",      "makeDir"};
    int i = int(op);
    return i >= 0 && i < kFileOpKinds ? names[i] : "?";
}

namespace faults {
namespace {

std::mutex g_lock;
std::vector<FileFault> g_faults;
FileObserver g_observer;
std::atomic<bool> g_active{false};  // fast path: nothing installed

void Refresh() {
    g_active.store(!g_faults.empty() || bool(g_observer));
}

int RepresentativeErrno(FileCause cause) {
    switch (cause) {
        case FileCause::NotFound:
            return ENOENT;
        case FileCause::LockViolation:
            return EAGAIN;
        case FileCause::NetworkLost:
            return ESTALE;
        case FileCause::AccessDenied:
            return EACCES;
        default:
            return EIO;
    }
}

}  // namespace

void AddFileFault(const FileFault& fault) {
    std::lock_guard<std::mutex> g(g_lock);
    if (fault.times > 0) g_faults.push_back(fault);
    Refresh();
}

void ClearFileFaults() {
    std::lock_guard<std::mutex> g(g_lock);
    g_faults.clear();
    g_observer = nullptr;
    Refresh();
}

int PendingFileFaults() {
    std::lock_guard<std::mutex> g(g_lock);
    int n = 0;
    for (auto& f : g_faults) n += f.times;
    return n;
}

void SetFileObserver(FileObserver observer) {
    std::lock_guard<std::mutex> g(g_lock);
    g_observer = std::move(observer);
    Refresh();
}

ScopedFileFaults::~ScopedFileFaults() {
    ClearFileFaults();
}

// Returns the errno to fail with, or 0 when the operation may proceed.
int Check(FileOp op, const std::string& path) {
    if (!g_active.load(std::memory_order_relaxed)) return 0;
    std::lock_guard<std::mutex> g(g_lock);
    for (auto it = g_faults.begin(); it != g_faults.end(); ++it) {
        if (it->op != op) continue;
        if (!it->pathContains.empty() && path.find(it->pathContains) == std::string::npos) continue;
        if (it->skip > 0) {
            --it->skip;
            continue;
        }
        int err = it->osError != 0 ? it->osError : RepresentativeErrno(it->cause);
        if (--it->times <= 0) g_faults.erase(it);
        Refresh();
        return err;
    }
    return 0;
}

void Observe(FileOp op, const std::string& path, size_t bytes) {
    if (!g_active.load(std::memory_order_relaxed)) return;
    FileObserver obs;
    {
        std::lock_guard<std::mutex> g(g_lock);
        obs = g_observer;
    }
    if (obs) obs(op, path, bytes);
}

}  // namespace faults

namespace {

void SetError(FileError* err, int e, const std::string& path) {
    if (err == nullptr) return;
    err->cause = CauseOfErrno(e);
    if (err->cause == FileCause::None) err->cause = FileCause::Other;
    err->osError = e;
    err->fileName = path;
}

// An injected failure or the outcome of the real call; err gets the errno.
bool Injected(FileOp op, const std::string& path, FileError* err) {
    int e = faults::Check(op, path);
    if (e == 0) return false;
    SetError(err, e, path);
    return true;
}

}  // namespace

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), error_(std::move(other.error_)) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
        other.fd_ = -1;
    }
    return *this;
}

bool File::fail(FileOp op, int err) {
    (void)op;
    SetError(&error_, err, path_);
    return false;
}

bool File::injected(FileOp op) {
    int e = faults::Check(op, path_);
    if (e == 0) return false;
    fail(op, e);
    return true;
}

bool File::open(const std::string& path, bool writable) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_ = path;
    if (injected(FileOp::Open)) return false;
    int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return fail(FileOp::Open, errno);
    fd_ = fd;
    faults::Observe(FileOp::Open, path_, 0);
    return true;
}

bool File::create(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_ = path;
    if (injected(FileOp::Create)) return false;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail(FileOp::Create, errno);
    fd_ = fd;
    faults::Observe(FileOp::Create, path_, 0);
    return true;
}

bool File::close() {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    if (injected(FileOp::Close)) {
        ::close(fd);
        return false;
    }
    faults::Observe(FileOp::Close, path_, 0);
    if (::close(fd) != 0 && errno != EINTR) return fail(FileOp::Close, errno);
    return true;
}

bool File::seek(int64_t offset) {
    if (fd_ < 0) return fail(FileOp::Seek, EBADF);
    if (injected(FileOp::Seek)) return false;
    if (offset < 0) return fail(FileOp::Seek, EINVAL);
    if (::lseek(fd_, off_t(offset), SEEK_SET) < 0) return fail(FileOp::Seek, errno);
    return true;
}

bool File::read(void* buf, size_t n, size_t* got) {
    if (got != nullptr) *got = 0;
    if (fd_ < 0) return fail(FileOp::Read, EBADF);
    if (injected(FileOp::Read)) return false;
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        ssize_t r = ::read(fd_, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            return fail(FileOp::Read, errno);
        }
        if (r == 0) break;
        done += size_t(r);
    }
    if (got != nullptr) *got = done;
    faults::Observe(FileOp::Read, path_, done);
    return true;
}

bool File::write(const void* buf, size_t n) {
    if (fd_ < 0) return fail(FileOp::Write, EBADF);
    if (injected(FileOp::Write)) return false;
    size_t done = 0;
    auto* p = static_cast<const char*>(buf);
    while (done < n) {
        ssize_t r = ::write(fd_, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            return fail(FileOp::Write, errno);
        }
        done += size_t(r);
    }
    faults::Observe(FileOp::Write, path_, n);
    return true;
}

bool File::readAt(int64_t offset, void* buf, size_t n, size_t* got) {
    if (got != nullptr) *got = 0;
    if (fd_ < 0) return fail(FileOp::Read, EBADF);
    if (injected(FileOp::Read)) return false;
    if (offset < 0) return fail(FileOp::Read, EINVAL);
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        ssize_t r = ::pread(fd_, p + done, n - done, off_t(offset + int64_t(done)));
        if (r < 0) {
            if (errno == EINTR) continue;
            return fail(FileOp::Read, errno);
        }
        if (r == 0) break;
        done += size_t(r);
    }
    if (got != nullptr) *got = done;
    faults::Observe(FileOp::Read, path_, done);
    return true;
}

bool File::writeAt(int64_t offset, const void* buf, size_t n) {
    if (fd_ < 0) return fail(FileOp::Write, EBADF);
    if (injected(FileOp::Write)) return false;
    if (offset < 0) return fail(FileOp::Write, EINVAL);
    size_t done = 0;
    auto* p = static_cast<const char*>(buf);
    while (done < n) {
        ssize_t r = ::pwrite(fd_, p + done, n - done, off_t(offset + int64_t(done)));
        if (r < 0) {
            if (errno == EINTR) continue;
            return fail(FileOp::Write, errno);
        }
        done += size_t(r);
    }
    faults::Observe(FileOp::Write, path_, n);
    return true;
}

bool File::setLength(int64_t length) {
    if (fd_ < 0) return fail(FileOp::SetLength, EBADF);
    if (injected(FileOp::SetLength)) return false;
    if (length < 0) return fail(FileOp::SetLength, EINVAL);
    if (::ftruncate(fd_, off_t(length)) != 0) return fail(FileOp::SetLength, errno);
    faults::Observe(FileOp::SetLength, path_, size_t(length));
    return true;
}

bool File::flush() {
    if (fd_ < 0) return fail(FileOp::Flush, EBADF);
    if (injected(FileOp::Flush)) return false;
    if (::fdatasync(fd_) != 0 && errno != EINVAL) return fail(FileOp::Flush, errno);
    faults::Observe(FileOp::Flush, path_, 0);
    return true;
}

bool File::size(int64_t* out) {
    if (fd_ < 0) return fail(FileOp::Stat, EBADF);
    if (injected(FileOp::Stat)) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return fail(FileOp::Stat, errno);
    *out = int64_t(st.st_size);
    return true;
}

bool RemoveFile(const std::string& path, FileError* err) {
    if (Injected(FileOp::Remove, path, err)) return false;
    if (::unlink(path.c_str()) != 0) {
        SetError(err, errno, path);
        return false;
    }
    faults::Observe(FileOp::Remove, path, 0);
    return true;
}

bool RenameFile(const std::string& from, const std::string& to, FileError* err) {
    if (Injected(FileOp::Rename, from, err)) return false;
    if (::rename(from.c_str(), to.c_str()) != 0) {
        SetError(err, errno, from);
        return false;
    }
    faults::Observe(FileOp::Rename, from, 0);
    return true;
}

bool StatFile(const std::string& path, FileStatus* out, FileError* err) {
    if (Injected(FileOp::Stat, path, err)) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        SetError(err, errno, path);
        return false;
    }
    out->size = int64_t(st.st_size);
    out->modified = int64_t(st.st_mtim.tv_sec);
    out->accessed = int64_t(st.st_atim.tv_sec);
    out->isDirectory = S_ISDIR(st.st_mode);
    return true;
}

bool SetFileTimes(const std::string& path, int64_t accessed, int64_t modified, FileError* err) {
    if (Injected(FileOp::SetTimes, path, err)) return false;
    timespec times[2]{};
    times[0].tv_sec = time_t(accessed);
    times[1].tv_sec = time_t(modified);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        SetError(err, errno, path);
        return false;
    }
    return true;
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out, FileError* err) {
    out->clear();
    if (Injected(FileOp::List, dir, err)) return false;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        SetError(err, errno, dir);
        return false;
    }
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        DirEntry entry;
        entry.name = name;
        if (e->d_type == DT_DIR) {
            entry.isDirectory = true;
        } else if (e->d_type == DT_UNKNOWN) {
            entry.isDirectory = IsDirectory(dir + "/" + name);
        }
        out->push_back(std::move(entry));
    }
    ::closedir(d);
    std::sort(out->begin(), out->end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return true;
}

bool MakeDirectory(const std::string& path, FileError* err) {
    if (Injected(FileOp::MakeDir, path, err)) return false;
    if (::mkdir(path.c_str(), 0755) != 0) {
        int e = errno;
        if (e == EEXIST && IsDirectory(path)) return true;
        SetError(err, e, path);
        return false;
    }
    return true;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
