// Files over POSIX.
#include "platform/posix/files.h"

#include "platform/posix/errno_error.h"
#include "platform/posix/fd_output_handle.h"
#include "platform/posix/unique_fd.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace tovanel::platform::posix {

namespace {

constexpr int kNameAttempts = 16;

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A string the C library allocated, copied and freed; none for a null pointer.
std::optional<std::string> adopted(char* allocated) {
    const std::unique_ptr<char, decltype(&std::free)> owner(allocated, &std::free);
    return allocated != nullptr ? std::optional<std::string>(allocated) : std::nullopt;
}

std::string lastComponentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<PlatformError> writeAll(int fd, std::string_view content, const std::string& path) {
    const char* next = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return errnoError("write", written < 0 ? errno : EIO, path);
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return std::nullopt;
}

} // namespace

std::string unpredictableName() {
    static constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::array<std::uint8_t, 16> random{};
    ::arc4random_buf(random.data(), random.size());
    std::string name;
    for (std::uint8_t byte : random) {
        name += alphabet[byte % alphabet.size()];
    }
    return name;
}

PosixFiles::PosixFiles() : PosixFiles(unpredictableName) {}

PosixFiles::PosixFiles(NameSource temporaryNames)
    : temporaryNames_(std::move(temporaryNames)),
      standardOutput_(std::make_shared<FdOutputHandle>(FdOutputHandle::borrowing(STDOUT_FILENO))) {}

std::shared_ptr<OutputHandle> PosixFiles::standardOutput() {
    return standardOutput_;
}

bool PosixFiles::standardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

std::string PosixFiles::temporaryDirectory() {
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string directory = (fromEnvironment != nullptr && *fromEnvironment != '\0')
                                ? std::string(fromEnvironment)
                                : std::string("/tmp");
    while (directory.size() > 1 && directory.back() == '/') {
        directory.pop_back();
    }
    return directory;
}

std::string PosixFiles::currentDirectory() {
    // Given no buffer, glibc and Apple's libc both allocate one of the path's own length.
    return adopted(::getcwd(nullptr, 0)).value_or(".");
}

std::string PosixFiles::resolvingSymlinksInPath(const std::string& absolutePath) {
    if (auto resolved = adopted(::realpath(absolutePath.c_str(), nullptr))) {
        return *resolved;
    }
    // The last component may not exist (a sender that is missing): resolve the directory that
    // holds it and keep the name as given, so the caller can still report the missing file.
    const std::string directory = directoryOf(absolutePath);
    if (directory == absolutePath) {
        return absolutePath;
    }
    if (auto resolved = adopted(::realpath(directory.c_str(), nullptr))) {
        return (*resolved == "/" ? "/" : *resolved + '/') + lastComponentOf(absolutePath);
    }
    return absolutePath;
}

std::optional<PlatformError> PosixFiles::replaceFileAtomically(const std::string& path,
                                                               std::string_view utf8Content) {
    const std::string directory = directoryOf(path);
    const std::string prefix = directory + "/." + lastComponentOf(path) + ".";

    // Exclusive creation under a name nobody can predict: a file or link planted beside the
    // target can neither be followed nor clobbered.
    UniqueFd fd;
    std::string temporaryPath;
    int lastError = EEXIST;
    for (int attempt = 0; attempt < kNameAttempts && !fd.valid(); ++attempt) {
        temporaryPath = prefix + temporaryNames_() + ".tmp";
        fd.reset(::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0666));
        lastError = errno;
        if (!fd.valid() && lastError != EEXIST) {
            break;
        }
    }
    if (!fd.valid()) {
        return errnoError("open", lastError, path);
    }

    auto failure = writeAll(fd.get(), utf8Content, path);
    if (::close(fd.release()) != 0 && !failure) {
        failure = errnoError("close", errno, path);
    }
    if (!failure && ::rename(temporaryPath.c_str(), path.c_str()) != 0) {
        failure = errnoError("rename", errno, path);
    }
    if (failure) {
        ::unlink(temporaryPath.c_str());
    }
    return failure;
}

} // namespace tovanel::platform::posix
