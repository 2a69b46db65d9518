// Files and paths: the standard-output handle and whether it is a terminal, atomic replacement of
// a small UTF-8 file, the temporary directory, the current directory and symlink resolution.
//
// Callers guarantee:
//   - paths are absolute where a function says so; content passed for a file is UTF-8.
// Every backend must:
//   - replace a file so that a reader sees either the old or the new content, complete: write a
//     temporary file beside the target, created exclusively under an unpredictable name, then
//     move it into place; a symlink at the target is replaced, never followed; nothing is left
//     behind on failure; the failure is returned, never printed;
//   - be callable from any thread, also concurrently.
#pragma once

#include "platform/output_handle.h"
#include "platform/platform_error.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tovanel::platform {

class Files {
  public:
    virtual ~Files() = default;

    // The handle on this process's standard output (file descriptor 1).
    virtual std::shared_ptr<OutputHandle> standardOutput() = 0;
    // Whether standard output is a terminal (a person, not a reader of the stream).
    virtual bool standardOutputIsTerminal() = 0;
    // The user's temporary directory, without a trailing slash.
    virtual std::string temporaryDirectory() = 0;
    virtual std::string currentDirectory() = 0;
    // `path` with every symbolic link in it resolved; parts that do not exist are kept as given.
    virtual std::string resolvingSymlinksInPath(const std::string& absolutePath) = 0;
    virtual std::optional<PlatformError> replaceFileAtomically(const std::string& path,
                                                               std::string_view utf8Content) = 0;
};

} // namespace tovanel::platform
