#include "platform/FileLayer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace qf {

int FileLayer::open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t FileLayer::write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int FileLayer::fsync(int fd) { return ::fsync(fd); }
int FileLayer::close(int fd) { return ::close(fd); }
int FileLayer::rename(const char* from, const char* to) { return ::rename(from, to); }
int FileLayer::unlink(const char* path) { return ::unlink(path); }

std::optional<FileStamp> stampOf(const std::string& file)
{
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return std::nullopt;
    return stampOf(info);
}

FileStamp stampOf(const struct stat& info)
{
    FileStamp stamp;
    stamp.size = static_cast<uint64_t>(info.st_size);
    stamp.modifiedNs = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    stamp.changedNs = int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec;
    stamp.inode = static_cast<uint64_t>(info.st_ino);
    stamp.device = static_cast<uint64_t>(info.st_dev);
    return stamp;
}

FileLayer& FileLayer::system()
{
    static FileLayer layer;
    return layer;
}

namespace {

// Read by signal handlers: a fixed buffer, published by its first byte.
char g_activeTemp[4096];

void setActiveTemporary(const std::string& path)
{
    g_activeTemp[0] = '\0';
    if (path.size() < sizeof g_activeTemp) {
        std::memcpy(g_activeTemp + 1, path.c_str() + 1, path.size());
        g_activeTemp[0] = path.empty() ? '\0' : path[0];
    }
}

Failure failureOf(const std::string& path, int error)
{
    return {std::strerror(error), path, {}, {}};
}

std::string temporaryNameFor(const std::string& path)
{
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + "." + std::to_string(::getpid()) + "-" +
           std::to_string(seed ^ counter.fetch_add(1)) + ".tmp";
}

}  // namespace

const char* activeTemporaryFile() { return g_activeTemp; }

namespace {

extern "C" void exitRemovingTemporary(int signal)
{
    const char* temp = activeTemporaryFile();
    if (temp[0] != '\0')
        ::unlink(temp);
    ::_exit(128 + signal);
}

// The folder part of path, for flushing the entry a rename made.
std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Flushes a folder's entries; file systems that cannot flush a folder (EINVAL) count as done. A
// folder that is gone (ENOENT) took the files renamed into it along.
int syncFolder(const std::string& folder, FileLayer& files)
{
    const int fd = files.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int error = files.fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    if (files.close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

bool allDigits(const std::string& s, size_t maxLength)
{
    return !s.empty() && s.size() <= maxLength && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

void exitOnSignals(std::initializer_list<int> which)
{
    struct sigaction action {};
    action.sa_handler = exitRemovingTemporary;
    sigemptyset(&action.sa_mask);
    for (const int s : which) {
        // A signal ignored from the start stays ignored: nohup and shells starting background
        // jobs ask for exactly that.
        struct sigaction before {};
        if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        sigaction(s, &action, nullptr);
    }
}

std::vector<std::string> removeStaleTemporaryFiles(const std::string& folder,
                                                   const std::vector<std::string>& targetExtensions,
                                                   FileLayer& files)
{
    std::vector<std::string> removed;
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return removed;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing))
        names.emplace_back(entry->d_name);
    ::closedir(listing);

    const std::string suffix = ".tmp";
    for (const std::string& name : names) {
        // "." + target + "." + pid + "-" + number + ".tmp"
        if (name.size() <= 1 + suffix.size() || name[0] != '.' ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string core = name.substr(1, name.size() - 1 - suffix.size());
        const auto dot = core.rfind('.');
        const auto dash = core.rfind('-');
        if (dot == std::string::npos || dot == 0 || dash == std::string::npos || dash < dot)
            continue;
        const std::string target = core.substr(0, dot);
        const std::string pidText = core.substr(dot + 1, dash - dot - 1);
        if (!allDigits(pidText, 9) || !allDigits(core.substr(dash + 1), 10))
            continue;
        bool ours = false;
        for (const std::string& extension : targetExtensions)
            ours |= target.size() >= extension.size() &&
                    target.compare(target.size() - extension.size(), extension.size(), extension) == 0;
        const auto pid = static_cast<pid_t>(std::stol(pidText));
        if (!ours || pid <= 0)
            continue;
        // Only a process that no longer exists is known to have left its file behind.
        if (::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        const std::string path = folder + "/" + name;
        if (files.unlink(path.c_str()) == 0)
            removed.push_back(name);
    }
    return removed;
}

Status writeFileWhole(const std::string& path, const uint8_t* data, size_t size, FileLayer& files,
                           const std::function<void(size_t)>& passed)
{
    constexpr size_t kPiece = size_t{8} << 20;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = temporaryNameFor(path);
        // Published before the file exists, so a signal in between still finds it.
        setActiveTemporary(temp);
        fd = files.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    struct Clear {
        ~Clear() { setActiveTemporary({}); }
    } clear;
    if (fd < 0)
        return failureOf(path, errno);

    auto abandon = [&](int error) {
        // Asked before the unlink, which may fail and be refused in turn.
        std::optional<Failure> refused = files.refusal();
        files.unlink(temp.c_str());
        if (!refused)
            return failureOf(path, error);
        refused->file = path;
        return std::move(*refused);
    };
    size_t done = 0;
    while (done < size) {
        const ssize_t n = files.write(fd, data + done, passed ? std::min(kPiece, size - done) : size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            files.close(fd);
            return abandon(error);
        }
        done += static_cast<size_t>(n);
        if (passed)
            passed(done);
    }
    // On disk before it takes the target's name, so a crash never leaves a renamed empty file.
    if (files.fsync(fd) != 0) {
        const int error = errno;
        files.close(fd);
        return abandon(error);
    }
    if (files.close(fd) != 0)
        return abandon(errno);
    if (files.rename(temp.c_str(), path.c_str()) != 0)
        return abandon(errno);
    return Status();
}

std::string specialFileAt(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))
        return {};
    if (S_ISDIR(info.st_mode))
        return "a directory";
    if (S_ISFIFO(info.st_mode))
        return "a FIFO";
    if (S_ISSOCK(info.st_mode))
        return "a socket";
    return "a device";
}

bool fileHolds(const std::string& path, const uint8_t* data, size_t size, const std::function<void(size_t)>& passed)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info {};
    bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) == size;
    // Compared through a small buffer, read as it is (the file may change meanwhile; then it
    // differs, and is written).
    std::vector<uint8_t> buffer(same ? std::min<size_t>(size, 64 * 1024) : 0);
    size_t done = 0;
    while (same && done < size) {
        const ssize_t n = ::pread(fd, buffer.data(), std::min(buffer.size(), size - done), static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        same = n > 0 && std::memcmp(buffer.data(), data + done, static_cast<size_t>(n)) == 0;
        if (same)
            done += static_cast<size_t>(n);
        if (passed && done % (size_t{8} << 20) < static_cast<size_t>(std::max<ssize_t>(n, 0)))
            passed(done);
    }
    ::close(fd);
    return same;
}

std::vector<Failure> flushFolders(const std::vector<std::string>& paths, FileLayer& files)
{
    std::map<std::string, int> folders;  // each folder's error, once flushed
    for (const std::string& path : paths)
        folders.emplace(folderOf(path), 0);
    for (auto& [folder, error] : folders)
        error = syncFolder(folder, files);
    std::vector<Failure> failed;
    for (const std::string& path : paths)
        if (const int error = folders[folderOf(path)])
            failed.push_back(error == ENOENT ? Failure{"lost: its folder was removed during the run", path, {}, {}}
                                             : Failure{"written, but its folder could not be flushed to disk",
                                                       path, {}, std::strerror(error)});
    return failed;
}

}  // namespace qf
