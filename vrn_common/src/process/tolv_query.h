/* The meshing-database query: lists the models of a TOLV file by running
 * the reader program "kwxtolvreader.exe" ("-list", the file, "-server_mode")
 * and parsing its tagged output. */
#ifndef VRN_PROCESS_TOLV_QUERY_H
#define VRN_PROCESS_TOLV_QUERY_H

#ifdef __cplusplus
extern "C" {
#endif

/* On success returns 1 with *n models: ids1 and ids2 hold the first and
 * third value of each model, names1 and names2 the second and fourth. The
 * arrays are new (vrnFree; the names with vrnCStringArray_free and *n).
 * Returns 0 on failure, with the details in recorded errors; the outputs are
 * then NULL and *n 0, except that models parsed before or after an error
 * block of the reader are kept, and that missing installation variables
 * leave the outputs untouched. */
int vrnTOLVQuery_getModels(const char* file, int* n, int** ids1, int** ids2, char*** names1,
                           char*** names2);

#ifdef __cplusplus
}
#endif

#endif
