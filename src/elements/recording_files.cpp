#include "elements/recording_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kad::dv {

namespace {

constexpr int kMaxTries = 1000;

// Where the extension starts (the last "." of the file-name part), or the
// end of the path.
std::size_t extensionAt(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path.size();
    return dot;
}

bool exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

// Moves from to to unless to exists. 0, or an errno value.
int renameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // The file system cannot refuse a replace by itself; a hard link can.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    if (::unlink(from.c_str()) != 0) {
        const int err = errno;
        ::unlink(to.c_str());
        return err;
    }
    return 0;
}

} // namespace

std::string nextNumberedName(const std::string& path)
{
    const std::size_t ext = extensionAt(path);
    std::size_t digits = ext;
    const std::size_t slash = path.find_last_of('/');
    const std::size_t stemStart = slash == std::string::npos ? 0 : slash + 1;
    while (digits > stemStart && path[digits - 1] >= '0' && path[digits - 1] <= '9')
        --digits;
    if (digits == ext || ext - digits > 9) return path.substr(0, ext) + "_2" + path.substr(ext);
    const long number = std::stol(path.substr(digits, ext - digits));
    return path.substr(0, digits) + std::to_string(number + 1) + path.substr(ext);
}

std::string freeNumberedName(const std::string& path)
{
    std::string candidate = path;
    for (int i = 0; i < kMaxTries; ++i) {
        if (!exists(candidate)) return candidate;
        candidate = nextNumberedName(candidate);
    }
    return {};
}

std::string splitTarget(const std::string& given, const std::string& lastNumbered)
{
    return freeNumberedName(given.empty() ? nextNumberedName(lastNumbered) : given);
}

std::string openUnderFreeName(const std::string& first,
                              const std::function<bool(const std::string&)>& open)
{
    std::string candidate = first;
    for (int i = 0; i < kMaxTries && !candidate.empty(); ++i) {
        if (open(candidate)) return candidate;
        if (errno != EEXIST) return {};
        candidate = freeNumberedName(nextNumberedName(candidate));
    }
    errno = EEXIST;
    return {};
}

std::string dateName(const std::string& root, const std::string& from,
                     const RecordingDateTime& when)
{
    return root + "_" + fileNameStamp(when) + from.substr(extensionAt(from));
}

std::optional<std::string> renameByRecordingDate(const std::string& from, const std::string& root,
                                                 const RecordingDateTime& when)
{
    const std::string first = dateName(root, from, when);
    if (first == from) return from;
    const std::size_t ext = extensionAt(first);
    for (int n = 1; n <= kMaxTries; ++n) {
        const std::string to =
            n == 1 ? first : first.substr(0, ext) + "_" + std::to_string(n) + first.substr(ext);
        if (to == from) return from;
        const int err = renameNoReplace(from, to);
        if (err == 0) return to;
        if (err != EEXIST) {
            errno = err;
            return std::nullopt;
        }
    }
    errno = EEXIST;
    return std::nullopt;
}

} // namespace kad::dv
