#include "platform/FileLayer.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace qf {

int FileLayer::open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t FileLayer::write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int FileLayer::fsync(int fd) { return ::fsync(fd); }
int FileLayer::close(int fd) { return ::close(fd); }
int FileLayer::rename(const char* from, const char* to) { return ::rename(from, to); }
int FileLayer::unlink(const char* path) { return ::unlink(path); }

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

std::string reason(const std::string& path, int error)
{
    return path + ": " + std::strerror(error);
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

std::string writeFileWhole(const std::string& path, const uint8_t* data, size_t size, FileLayer& files)
{
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = temporaryNameFor(path);
        fd = files.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return reason(path, errno);
    setActiveTemporary(temp);
    struct Clear {
        ~Clear() { setActiveTemporary({}); }
    } clear;

    size_t done = 0;
    while (done < size) {
        const ssize_t n = files.write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            files.close(fd);
            files.unlink(temp.c_str());
            return reason(path, error);
        }
        done += static_cast<size_t>(n);
    }
    if (files.close(fd) != 0) {
        const int error = errno;
        files.unlink(temp.c_str());
        return reason(path, error);
    }
    if (files.rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        files.unlink(temp.c_str());
        return reason(path, error);
    }
    return {};
}

}  // namespace qf
