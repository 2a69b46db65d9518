// Files over POSIX: standard output and whether it is a terminal, atomic file replacement,
// temporary and current directory, symlink resolution.
#pragma once

#include "platform/files.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tovanel::platform::posix {

class PosixFiles : public Files {
  public:
    // Makes the random part of temporary file names; tests replace it to plant collisions.
    using NameSource = std::function<std::string()>;

    PosixFiles();
    explicit PosixFiles(NameSource temporaryNames);

    std::shared_ptr<OutputHandle> standardOutput() override;
    bool standardOutputIsTerminal() override;
    std::string temporaryDirectory() override;
    std::string currentDirectory() override;
    std::string resolvingSymlinksInPath(const std::string& absolutePath) override;
    std::optional<PlatformError> replaceFileAtomically(const std::string& path,
                                                       std::string_view utf8Content) override;

  private:
    NameSource temporaryNames_;
    std::shared_ptr<OutputHandle> standardOutput_;
};

// 16 characters from [A-Za-z0-9] out of the system's cryptographic random source.
std::string unpredictableName();

} // namespace tovanel::platform::posix
