/* Why a data file could not be opened, in one line for the user: the
 * system's text for what is wrong with the path and what that means here
 * ("No such file or directory (the folder /a/b does not exist)"), or, for
 * a file that is there and readable, the data-file library's last message
 * about it. Worked out by looking at the path after the open failed; the
 * look changes nothing on disk. */
#ifndef VRN_DATABASE_OPEN_REASON_H
#define VRN_DATABASE_OPEN_REASON_H

#include <string>

/* name: the file that failed to open; ioMessages: the data-file library's
 * messages of the attempt (may be NULL). Never empty. */
namespace vrn {
std::string openFailureReason(const char* name, const char* ioMessages);
}

#endif
