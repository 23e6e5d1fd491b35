/* Thin wrappers over the operating system and the runtime (files, working
 * directory, date and time, host name, sleeping, temporary names,
 * environment variables) and the fixed build strings of the library. Every
 * string returned, except by vrnBuildInfo_get, is new and owned by the
 * caller (free with vrnCString_free). */
#ifndef VRN_SUPPORT_SYSTEM_H
#define VRN_SUPPORT_SYSTEM_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when stat succeeds on the path; 0 for NULL or failure. */
int vrnFileExists(const char* path);
/* Non-zero when the path is a regular file. */
int vrnIsRegularFile(const char* path);
/* Removes the path only when it is a regular file; 1 on success. */
int vrnRemoveFile(const char* path);
/* 1 on success, 0 on failure. */
int vrnRenameFile(const char* from, const char* to);
/* The current directory, or NULL when it cannot be known (for example when
 * it has been removed or is not readable). */
char* vrnGetWorkingDirectory(void);
/* Local date as "%a %b %d %Y"; NULL when it cannot be formatted. */
char* vrnGetDate(void);
/* Local time as "%X %Z"; NULL when it cannot be formatted. */
char* vrnGetTime(void);
/* The host name, or NULL. */
char* vrnGetHostname(void);
void vrnSleep(int seconds);
/* prefix + "." + 22 characters + ".tmp" (or the last two parts alone without
 * a prefix), naming no existing regular file where that can be had in ten
 * attempts. The 22 characters are a UUID's text with '/' turned into '='. */
char* vrnGetTemporaryFileName(const char* prefix);
/* The same name made in folder ("" or NULL: the working folder; else ending
 * with its separator) and returned with the folder in front; it is in that
 * folder that the name is checked to be free. */
char* vrnGetTemporaryFileNameIn(const char* folder, const char* prefix);
/* 1 when the variable exists (an empty value counts), else 0. */
int vrnIsEnvironmentVariableSet(const char* name);
/* A copy of the variable's value when it exists (even empty), else a copy of
 * defaultValue, else NULL. */
char* vrnReadEnvironmentVariable(const char* name, const char* defaultValue);

/* Build identity. */
char* vrnLibrary_getBuild(void);         /* "2011.10.10-23.02" */
char* vrnLibrary_getReleaseNumber(void); /* "14.0" */
char* vrnLibrary_getVersionString(void); /* "14.0 (2011.10.10-23.02)" */
/* The process-wide program name; NULL while none is set. */
char* vrnLibrary_getProgramName(void);
/* A constant build string (not a copy) for selectors 1 to 9; any other
 * selector gives the bracketed build line. */
const char* vrnBuildInfo_get(int selector);

#ifdef __cplusplus
}

#include <string>

/* How a log lays out its start-up banner: each line begins with prefix;
 * labels are padded to width; the start line has startLabel, or is left out
 * when the date or time cannot be had unless unknownStart is given; a rule
 * line, when given, frames the start line and ends the banner. */
struct vrnBannerStyle {
    const char* prefix;
    const char* startLabel;
    int width;
    const char* unknownStart;
    const char* rule;
};

/* The start-up banner shared by the error log, the debug log and the
 * session journal: the start date and time, then the program, build,
 * release number, host and working directory (a value that cannot be had
 * leaves out its line). */
std::string vrnStartBanner(const vrnBannerStyle& style);
#endif

#endif
