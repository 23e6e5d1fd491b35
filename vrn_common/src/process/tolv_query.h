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

#include <stddef.h>

namespace vrn {

/* Where the query puts the models it reads, each as soon as its four values
 * are in. */
class TolvModelSink {
public:
    virtual ~TolvModelSink() = default;
    /* The count line announced n models (1 or more); the output may still
     * hold fewer. */
    virtual void expect(int n) { (void)n; }
    /* One model; the names are NUL-terminated, with their lengths, and valid
     * only during the call. false when it cannot be kept: the listing then
     * fails as unparsable. */
    virtual bool add(int id1, const char* name1, size_t length1, int id2, const char* name2,
                     size_t length2) = 0;
    /* Drops every model added: at the start, and when the listing fails. */
    virtual void reset() = 0;
};

/* vrnTOLVQuery_getModels with the models going to the sink instead of new
 * arrays: the same result, count, recorded errors and models (after a
 * failure, models remain only where vrnTOLVQuery_getModels keeps them). */
int TOLVQuery_listModels(const char* file, int* n, TolvModelSink& models);

}  // namespace vrn
#endif

#endif
