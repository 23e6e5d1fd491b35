/* Helpers shared by the model classes: typed reference reads (a stored
 * reference that resolves to an object of another class reads as none, so
 * that a damaged file can never make one class's record pass for another),
 * type filters for read sets, re-entry guards for two-way setters, and the
 * release of name texts that objects still point at. Internal to the model
 * database. */
#ifndef VRN_TOPOLOGY_MODEL_FIELDS_H
#define VRN_TOPOLOGY_MODEL_FIELDS_H

#include "database/object.h"

struct Set;
struct HashSet;

namespace vrnmodel {

/* 1 when the object is of the named registry type. */
bool isA(const vrnObject* object, const char* typeName);

/* Reads the reference key into *field when it must be read (onlyIfChanged);
 * a target of another type than typeName is reported (error 20006) and
 * read as none. Returns what the object layer returned. */
int getRef(vrnObject* object, int onlyIfChanged, const char* key, const char* typeName,
           vrnObject** field);

template <class T>
int getTyped(vrnObject* object, int onlyIfChanged, const char* key, const char* typeName,
             T** field) {
    vrnObject* target = reinterpret_cast<vrnObject*>(*field);
    int ok = getRef(object, onlyIfChanged, key, typeName, &target);
    *field = reinterpret_cast<T*>(target);
    return ok;
}

/* Drops the members that are not of the named type. */
void keepType(Set* set, const char* typeName);
void keepType(HashSet* set, const char* typeName);

/* Reads the set key into *field when there is none yet or it must be read
 * (onlyIfChanged), keeping only the members of the named type. */
void getTypedSet(vrnObject* object, int onlyIfChanged, const char* key, const char* typeName,
                 Set** field);
void getTypedSet(vrnObject* object, int onlyIfChanged, const char* key, const char* typeName,
                 HashSet** field);

/* Adds a member unless it is there already. */
void hashSetAdd(HashSet* set, void* member);

/* Re-entry guard of a two-way setter: a call that comes back into the same
 * setter through its counterpart finds `entered` and does nothing. */
class Guard {
public:
    explicit Guard(int& flag) : flag_(flag), entered_(flag != 0) { flag_ = 1; }
    ~Guard() {
        if (!entered_) flag_ = 0;
    }
    bool reentered() const { return entered_; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    int& flag_;
    bool entered_;
};

/* Takes every link to or from object out of the live meshes and
 * representations (marking them for the dump), so that a deleted object
 * leaves no pointer in their link maps. Does nothing while a state change
 * destroys objects. */
void forgetLinks(vrnObject* object);

/* Publishes an error of code with one formatted message. */
void raise(int code, const char* function, const char* source, int line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;

}  // namespace vrnmodel

#endif
