// Stand-in for libFuzzer's main in normal builds: runs the harness once on
// every file named on the command line, or on every file of a named folder,
// so that seed corpora replay as ordinary tests.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool runFile(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

int main(int argc, char** argv)
{
    int ran = 0;
    bool ok = true;
    for (int i = 1; i < argc; i++) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            ok = false;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            ok = runFile(argv[i]) && ok;
            ran++;
            continue;
        }
        DIR* d = opendir(argv[i]);
        if (!d)
            continue;
        std::vector<std::string> names;
        while (struct dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(std::string(argv[i]) + "/" + e->d_name);
        closedir(d);
        for (const std::string& name : names) {
            ok = runFile(name) && ok;
            ran++;
        }
    }
    std::printf("replayed %d inputs\n", ran);
    return ok && ran > 0 ? 0 : 1;
}
