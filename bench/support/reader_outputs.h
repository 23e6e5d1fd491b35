// Reader outputs for the model query benchmarks: files that the test reader
// (VRN_TEST_READER, which copies its file to its output) prints, kept in one
// scratch folder per program.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

namespace vrnbench {

// The scratch folder, made under /tmp at first use with the reader variables
// pointing the model query at the test reader. The folder goes, with
// everything in it, when the program ends normally: the one static object
// holds its name and removes it, so the name outlives the removal.
class ReaderOutputFolder {
public:
    static const std::string& path() {
        static ReaderOutputFolder folder;
        return folder.path_;
    }
    ReaderOutputFolder(const ReaderOutputFolder&) = delete;
    ReaderOutputFolder& operator=(const ReaderOutputFolder&) = delete;

private:
    ReaderOutputFolder() {
        char pattern[] = "/tmp/vrnbench.XXXXXX";
        if (!mkdtemp(pattern)) {
            fprintf(stderr, "cannot make a scratch folder in /tmp: %s\n", strerror(errno));
            exit(1);
        }
        path_ = pattern;
        setenv("KWX5BINDIR", path_.c_str(), 1);
        setenv("KWX5EXECDIR", path_.c_str(), 1);
        setenv("KWX5_KWXTOLVREADER_EXEC", VRN_TEST_READER, 1);
    }
    ~ReaderOutputFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    std::string path_;
};

// Writes the reader output `text` as the folder's file `name`; its path.
inline std::string writeReaderOutput(const std::string& name, const std::string& text) {
    const std::string path = ReaderOutputFolder::path() + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0) {
        fprintf(stderr, "cannot write %s: %s\n", path.c_str(), strerror(errno));
        exit(1);
    }
    return path;
}

// A models block of n models ("model number i", "mesh of model i"), written
// once per program.
inline std::string modelsOutput(int n) {
    const std::string name = "models." + std::to_string(n);
    const std::string path = ReaderOutputFolder::path() + "/" + name;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return path;
    std::string text = "<MODELS_BEG>\n" + std::to_string(n) + "\n";
    for (int i = 0; i < n; ++i) {
        text += std::to_string(i) + "\nmodel number " + std::to_string(i) + "\n" + std::to_string(i * 10) +
                "\nmesh of model " + std::to_string(i) + "\n";
    }
    text += "<MODELS_END>\n";
    return writeReaderOutput(name, text);
}

}  // namespace vrnbench
