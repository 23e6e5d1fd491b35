// What the harnesses share: one private temporary folder per process
// (removed at exit), and writing an input to a file in it.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace vrnfuzz {

inline void removeTempDir();

inline std::string& tempDirPath() {
    static std::string path;
    return path;
}

// The folder, made on first use; every file a harness writes lies in it.
inline const std::string& tempDir() {
    std::string& path = tempDirPath();
    if (path.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/vrnfuzz.XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = pattern;
        std::atexit(removeTempDir);
    }
    return path;
}

inline void removeTempDir() {
    std::error_code ec;
    if (!tempDirPath().empty()) std::filesystem::remove_all(tempDirPath(), ec);
}

inline std::string tempFile(const std::string& name) { return tempDir() + "/" + name; }

// Writes the bytes to the named file of the folder and returns its path.
inline std::string writeInput(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = tempFile(name);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::abort();
    }
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path;
}

// Reads the input byte by byte; past its end every byte is 0.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t next32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | next();
        return v;
    }
    // The rest of the input up to the next byte `stop` (which is skipped).
    std::string text(uint8_t stop = 0) {
        std::string out;
        while (at_ < size_ && data_[at_] != stop) out += static_cast<char>(data_[at_++]);
        if (at_ < size_) ++at_;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace vrnfuzz
