// What the unit tests share: bounded waits, a thread-safe log of callback lines, a scratch folder
// and environment variables put back, and the float/byte conversions of the PCM stream.
#pragma once

#include "launcher/capture_source.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

namespace tovanel::test {

inline constexpr std::chrono::seconds kWaitBound{20};
using ::testing::ExitedWithCode;
using Lines = std::vector<std::string>;

// The value of `future` (a std::future or std::shared_future) once it is ready; a wait longer
// than kWaitBound ends the test program with a line naming `what`, instead of a hang.
template <class Future>
decltype(auto) within(Future&& future, const char* what) {
    if (future.wait_for(kWaitBound) != std::future_status::ready) {
        std::fprintf(stderr, "no %s within %lld s\n", what,
                     static_cast<long long>(kWaitBound.count()));
        std::abort();
    }
    return future.get();
}

class StatusLog {
  public:
    MessageCallback callback() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A fresh directory, removed with its content at the end of the test. A death test's child runs
// the test again from its start and must find its parent's directory, so it takes that one.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        const char* parents = std::getenv("TOVANEL_TEST_DIR");
        if (parents != nullptr && ::testing::internal::InDeathTestChild()) {
            path = parents;
            return;
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "tovanel.XXXXXX").string();
        path = ::mkdtemp(pattern.data());
        ::setenv("TOVANEL_TEST_DIR", path.c_str(), 1);
    }
    ~TempDir() {
        std::error_code ignored; // a source's thread may still be replacing a file in it
        if (!::testing::internal::InDeathTestChild()) {
            std::filesystem::remove_all(path, ignored);
        }
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

// Sets (or with none, unsets) a variable for the scope of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? (void)::setenv(name, value->c_str(), 1) : (void)::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? (void)::setenv(name_, old_->c_str(), 1) : (void)::unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// The same bytes seen as other elements (a trailing part of one is dropped).
template <class To, class From>
std::vector<To> recast(const std::vector<From>& from) {
    std::vector<To> to(from.size() * sizeof(From) / sizeof(To));
    if (!to.empty()) {
        std::memcpy(to.data(), from.data(), to.size() * sizeof(To));
    }
    return to;
}
inline std::vector<std::uint8_t> bytesOf(const std::vector<float>& samples) {
    return recast<std::uint8_t>(samples);
}
inline std::vector<std::uint32_t> wordsOf(const std::vector<std::uint8_t>& bytes) {
    return recast<std::uint32_t>(bytes);
}

// A source's failure callback in death tests shows what it was given after fail's own line.
inline const MessageCallback kShowFailure = [](const std::string& message) {
    std::fprintf(stderr, "onFailure<%s>", message.c_str());
};

// The stream's bounds, +0.95 and -0.95 as binary32, written out here rather than taken from the
// code under test, so a bound that moves fails the tests.
inline constexpr std::uint32_t kHi = 0x3F733333;
inline constexpr std::uint32_t kLo = 0xBF733333;

inline float fromBits(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

} // namespace tovanel::test
