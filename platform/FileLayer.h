// The file operations the program writes its results with, behind an interface so tests can make
// any of them fail. Every file is written whole or not at all: into a temporary file in the target
// folder, then renamed over the target.
#pragma once

#include "platform/Failure.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <sys/stat.h>
#include <sys/types.h>

namespace qf {

// What tells one version of a file from another without reading it. The change time is there
// because nothing can set it back: an edit in place that restores the size and the modification
// time (touch -d) still shows.
struct FileStamp {
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    uint64_t inode = 0;
    uint64_t device = 0;
    bool operator==(const FileStamp&) const = default;
};

// The file's stamp; nullopt when it cannot be had (the file is gone).
std::optional<FileStamp> stampOf(const std::string& file);
// The stamp of a file as stat or fstat described it.
FileStamp stampOf(const struct stat& info);

class FileLayer {
public:
    virtual ~FileLayer() = default;
    // POSIX semantics: -1 and errno on failure.
    virtual int open(const char* path, int flags, mode_t mode);
    virtual ssize_t write(int fd, const void* data, size_t size);
    virtual int fsync(int fd);
    virtual int close(int fd);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);

    // Why the last call failed when this layer refused it by a rule of its own (a bound on the
    // run's output, say) rather than the system: asked after a failure, like GetLastError, so the
    // rule's reason reaches the report instead of an errno standing in for it. None otherwise.
    virtual std::optional<Failure> refusal() const { return std::nullopt; }

    // The layer the program uses unless told otherwise (plain POSIX calls).
    static FileLayer& system();
};

// Writes size bytes to path through a temporary file next to it (".<name>.<pid>-<n>.tmp"), flushed
// to disk before it is renamed over path, so neither a reader nor a crash ever sees part of a file.
// The folder, which holds the rename, is not flushed here: flushFolders does that for a run's files
// at once. A failure names path as its file and the system's reason (or the layer's refusal), with
// any existing file at path untouched and no temporary file left behind. One call at a time in the
// process: the temporary file that a signal removes (activeTemporaryFile) is tracked for one
// writer, so worker threads hand their files to a single writing thread.
// passed, when given, is told how many bytes have been written after every piece of at most
// 8 MiB (the data may be a mapping whose pages the caller lets go behind).
Status writeFileWhole(const std::string& path, const uint8_t* data, size_t size,
                           FileLayer& files = FileLayer::system(),
                           const std::function<void(size_t)>& passed = {});

// True when path is a regular file (not a link) holding exactly these size bytes; never waits on a
// FIFO. A run made
// again leaves such a file as it is: rewriting it would cost disk writes and change its
// modification time for nothing.
// passed as for writeFileWhole, as the comparison goes.
bool fileHolds(const std::string& path, const uint8_t* data, size_t size,
               const std::function<void(size_t)>& passed = {});

// What is at path when it is something a run must not write over or read: a directory, a FIFO
// (opening one would wait for a writer for ever), a socket or a device. Empty for nothing, a
// regular file or a symbolic link (which the rename replaces). Nothing is opened.
std::string specialFileAt(const std::string& path);

// Flushes the folders of files that writeFileWhole wrote, each once, so their renames are on disk
// too; flushing the folder after every file waited for the disk once more per file. Returns the
// failures of files whose folder could not be flushed ("written, but its folder could not be
// flushed to disk: <strerror>"), and of those whose folder is gone, lost with it.
std::vector<Failure> flushFolders(const std::vector<std::string>& paths,
                                                               FileLayer& files = FileLayer::system());

// The temporary file writeFileWhole is writing at this moment, or an empty string. Safe to read
// from a signal handler, so an interrupted program can remove it before it exits.
const char* activeTemporaryFile();

// Makes each of these signals end the program at once with status 128 + the signal, after removing
// the temporary file being written; a signal the program was started with ignored stays ignored.
void exitOnSignals(std::initializer_list<int> which);

// Removes the temporary files writeFileWhole left in folder when its process was killed outright:
// those of its naming pattern whose target name ends in one of targetExtensions and whose process
// (by the pid in the name) no longer runs on this machine. A file of a running process is kept.
// Returns the names removed.
std::vector<std::string> removeStaleTemporaryFiles(const std::string& folder,
                                                   const std::vector<std::string>& targetExtensions,
                                                   FileLayer& files = FileLayer::system());

}  // namespace qf
