// Input as the lines of a text, for the harnesses of readers that take an
// array of C lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrnfuzz {

// The input as text. A NUL byte would end a C line early, so it becomes a
// blank and the text is what the reader sees.
inline std::string inputText(const uint8_t* data, size_t size) {
    std::string text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i) text += data[i] ? static_cast<char>(data[i]) : ' ';
    return text;
}

// The lines of a text split at '\n' (a text ending in '\n' ends in an empty
// line), with writable C pointers to them.
class TextLines {
public:
    explicit TextLines(const std::string& text) {
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines_.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        for (std::string& l : lines_) ptrs_.push_back(&l[0]);
    }
    TextLines(const TextLines&) = delete;
    TextLines& operator=(const TextLines&) = delete;

    int count() const { return static_cast<int>(ptrs_.size()); }
    char** data() { return ptrs_.data(); }

private:
    std::vector<std::string> lines_;
    std::vector<char*> ptrs_;
};

}  // namespace vrnfuzz
