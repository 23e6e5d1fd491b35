/* The session journal: an optional file to which public calls append one
 * line each. A public routine journals itself with
 *
 *     if (SessionFile_record(handle, status)) SessionFile_write("vrnApp_getErrors");
 */
#ifndef VRN_DEBUG_SESSION_FILE_H
#define VRN_DEBUG_SESSION_FILE_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the current call (with its result status) is to be journalled. */
int SessionFile_record(void* handle, int status);
/* Writes the name as one line of the open journal. */
void SessionFile_write(const char* name);

#ifdef __cplusplus
}
#endif

#endif
