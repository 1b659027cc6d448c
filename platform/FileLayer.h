// The file operations the program writes its results with, behind an interface so tests can make
// any of them fail. Every file is written whole or not at all: into a temporary file in the target
// folder, then renamed over the target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>
#include <sys/types.h>

namespace qf {

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

    // The layer the program uses unless told otherwise (plain POSIX calls).
    static FileLayer& system();
};

// Writes size bytes to path through a temporary file next to it (".<name>.<pid>-<n>.tmp"), flushed
// to disk before it is renamed over path, so neither a reader nor a crash ever sees part of a file.
// The folder, which holds the rename, is not flushed here: flushFolders does that for a run's files
// at once. On success returns an empty string; on failure the reason ("<path>: <strerror>"), with
// any existing file at path untouched and no temporary file left behind. One call at a time in the
// process: the temporary file that a signal removes (activeTemporaryFile) is tracked for one
// writer, so worker threads hand their files to a single writing thread.
std::string writeFileWhole(const std::string& path, const uint8_t* data, size_t size,
                           FileLayer& files = FileLayer::system());

// True when path is a regular file (not a link) holding exactly these size bytes. A run made
// again leaves such a file as it is: rewriting it would cost disk writes and change its
// modification time for nothing.
bool fileHolds(const std::string& path, const uint8_t* data, size_t size);

// Flushes the folders of files that writeFileWhole wrote, each once, so their renames are on disk
// too; flushing the folder after every file waited for the disk once more per file. Returns the
// files whose folder could not be flushed, each with the reason ("written, but its folder could
// not be flushed to disk: <strerror>").
std::vector<std::pair<std::string, std::string>> flushFolders(const std::vector<std::string>& paths,
                                                               FileLayer& files = FileLayer::system());

// The temporary file writeFileWhole is writing at this moment, or an empty string. Safe to read
// from a signal handler, so an interrupted program can remove it before it exits.
const char* activeTemporaryFile();

// Makes each of these signals end the program at once with status 128 + the signal, after removing
// the temporary file being written.
void exitOnSignals(std::initializer_list<int> which);

// Removes the temporary files writeFileWhole left in folder when its process was killed outright:
// those of its naming pattern whose target name ends in one of targetExtensions and whose process
// (by the pid in the name) no longer runs on this machine. A file of a running process is kept.
// Returns the names removed.
std::vector<std::string> removeStaleTemporaryFiles(const std::string& folder,
                                                   const std::vector<std::string>& targetExtensions,
                                                   FileLayer& files = FileLayer::system());

}  // namespace qf
