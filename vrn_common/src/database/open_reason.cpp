#include "database/open_reason.h"

#include <errno.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The system's text for an error number, then what it means for this path.
std::string explained(int error, const std::string& meaning) {
    return std::string(strerror(error)) + " (" + meaning + ")";
}

// The folder a file name lies in, as the user gave it.
std::string folderOf(const std::string& name) {
    size_t cut = name.find_last_of('/');
    if (cut == std::string::npos) return ".";
    return cut == 0 ? "/" : name.substr(0, cut);
}

// The data-file library's last message of the failed open, without the
// name of the routine that opens it ("iif_open: the file is not ..." gives
// "the file is not ..."). The request dispatcher's own closing line
// ("iocnt: open the primary file failed") names no cause and is passed over.
std::string lastLibraryMessage(const char* messages) {
    std::string text = messages ? messages : "";
    std::string line;
    while (!text.empty() && (line.empty() || line.compare(0, 7, "iocnt: ") == 0)) {
        while (!text.empty() && text.back() == '\n') text.pop_back();
        size_t start = text.find_last_of('\n') + 1;  // npos + 1 is 0
        line = text.substr(start);
        text.erase(start);
    }
    size_t colon = line.find(": ");
    if (colon != std::string::npos &&
        line.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") ==
            colon)
        line.erase(0, colon + 2);
    else if (line.compare(0, 7, "iocnt: ") == 0)
        line.clear();   // only the dispatcher's lines: no cause named
    return line;
}

// Why no file could be made in the folder of a missing file.
std::string folderProblem(const std::string& folder) {
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) {
        int error = errno;
        if (error == ENOENT) return explained(error, "the folder " + folder + " does not exist");
        if (error == ENOTDIR) return explained(error, "a part of " + folder + " is a file, not a folder");
        return explained(error, "the folder " + folder + " cannot be reached");
    }
    if (!S_ISDIR(st.st_mode)) return explained(ENOTDIR, folder + " is a file, not a folder");
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        int error = errno;
        if (error == EROFS) return explained(error, "the folder " + folder + " is on a read-only file system");
        return explained(error, "no permission to make a file in the folder " + folder);
    }
    return std::string();
}

}  // namespace

namespace vrn {

std::string openFailureReason(const char* name, const char* ioMessages) {
    const std::string file = name ? name : "";
    struct stat st;
    if (stat(file.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return explained(EISDIR, file + " is a folder, not a file");
        if (access(file.c_str(), R_OK) != 0) {
            int error = errno;
            return explained(error, "no permission to read " + file);
        }
        std::string said = lastLibraryMessage(ioMessages);
        return said.empty() ? "its content is not that of a KWX data file" : said;
    }
    int error = errno;
    switch (error) {
    case ENAMETOOLONG:
        if (file.size() >= PATH_MAX)
            return explained(error, "the whole name is longer than the system's limit of " +
                                        std::to_string(PATH_MAX - 1) + " bytes");
        return explained(error, "a folder or file name in it is longer than the system's limit of " +
                                    std::to_string(NAME_MAX) + " bytes");
    case ENOENT:
    case ENOTDIR: {
        // With a folder that takes new files, the open failed for a cause
        // of its own (no descriptor or no room left, say): the library's.
        std::string problem = folderProblem(folderOf(file));
        if (!problem.empty()) return problem;
        std::string said = lastLibraryMessage(ioMessages);
        return said.empty() ? explained(error, file + " does not exist") : said;
    }
    case EACCES:
        return explained(error, "no permission to look into a folder of " + file);
    default:
        return strerror(error);
    }
}

}  // namespace vrn
