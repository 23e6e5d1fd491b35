// Helpers shared by the modules of the region atlas library.
#pragma once

#include "region_status.h"

#include <string>

namespace regionatlas {

// The no-error record.
RegionStatus* ok();

// Sets the error record to code and a message built from a printf format.
// Messages are built in a buffer sized to fit, so long names are never cut
// short or written past an end. Names are always passed as arguments,
// never as formats.
RegionStatus* fail(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Sets the error record to code with the text as it stands (or no text).
RegionStatus* failText(int code, const char* text);

inline bool isError(const RegionStatus* s) { return RegionStatus_isError(s) != 0; }

// The check every object type makes of a pointer it is given: 1 for an
// object, else 0 and code with the message format filled with the class
// name. The status goes to *status when status is given.
int checkObject(const void* object, int code, const char* format, const char* className, RegionStatus** status);

// A copy of a status, taken before clean-up that may overwrite the shared
// error record, and put back afterwards.
class StatusCopy {
public:
    explicit StatusCopy(const RegionStatus* s);
    RegionStatus* restore() const;
    bool isError() const { return error_; }
    int code() const { return code_; }

private:
    bool error_ = false;
    int code_ = 0;
    bool hasMessage_ = false;
    std::string message_;
};

// Sets a module-wide re-entry flag for the life of the guard, so that the
// flag is cleared on every way out of a call.
class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& flag_;
};

// A malloc'ed copy of a text, or null when memory runs out.
char* copyText(const char* text);

extern const char* const kAtlasClass;      // "Region Atlas"
extern const char* const kMapClass;        // "Region Map"
extern const char* const kDefinitionClass; // "Region Definition"
extern const char* const kNameClass;       // "Region"

}  // namespace regionatlas

#include <set>

struct RegionDefinition;
struct RegionMap;
struct RegionName;

namespace regionatlas {

// The header names already written in one ORV text; substitute names avoid
// them, so that two definitions never share a header (and a path).
using HeaderSet = std::set<std::string>;

// A definition's REGION block, with its substitute header chosen to avoid
// the headers already used (when given) and entered there.
RegionStatus* definitionORV(RegionDefinition* def, HeaderSet* used, char** text);

// The text as the ORV parser reads it back: runs of blanks collapsed,
// trailing blanks gone.
std::string collapsed(const std::string& text);

// Whether the text is a valid ORV object name that reads back as itself.
bool isPlainORVName(const char* text, const char* type);

// The substitute header for a name that cannot stand in a header: invalid
// bytes become blanks (none at the start), trailing blanks go, an empty
// result becomes fallback, and " 0", " 1", ... is appended while the
// candidate is a dictionary name (when checkDictionary) or already used.
std::string substituteName(const char* text, const char* fallback, bool checkDictionary,
                           const HeaderSet* used, const char* type);

// Lengths of the paths the ORV reader builds from region text, measured
// with the longest header a name can be written under and the longest line
// each block can hold, so that what fits now still fits whatever the block
// later holds (a substitute's suffix, a second side, primitives).
// The longest path of a definition's block, from the block's object on.
size_t definitionPathLength(const char* name);
// The path of a map's object under the given name.
size_t mapPrefixLength(const char* name);
// The longest path of a map's block under the given name, with the
// definitions the map holds (none for no map).
size_t mapPathLength(RegionMap* map, const char* name);
// The path of an atlas's object under the given name.
size_t atlasPrefixLength(const char* name);
// The longest path of an atlas's own lines under the given name.
size_t atlasPathLength(const char* name);
bool pathFits(size_t length);
// 100007 with a message saying what (a text such as "Region Map (name)")
// would make a path of that length.
RegionStatus* pathTooLong(size_t length, const std::string& what);
// No error when a path of that length reads back; else pathTooLong, with
// what() called only then.
template <class What>
RegionStatus* checkPathLength(size_t length, What what)
{
    return pathFits(length) ? ok() : pathTooLong(length, what());
}
// The same for a name where it enters, described by its class and length.
RegionStatus* checkNameLength(size_t length, const char* className, const char* name);
// "<class> (<name>)", for those messages.
std::string named(const char* className, const char* name);

// Puts a definition back into a map it was just taken out of: the
// admission check is passed over, as the definition was admitted before and
// must not be lost on the way back.
RegionStatus* readmit(RegionMap* map, RegionDefinition* def);

// Adds a user to a name, recording the map the user joins with (none when
// unknown) so that the map's questions about the name are answered fast.
RegionStatus* addReferenceIn(RegionName* name, RegionDefinition* definition, int side, RegionMap* map);

// Frees a name object unless a table of the map (or of its atlas) holds it
// or it stands for a definition.
void deleteNameIfLoose(RegionMap* map, RegionName* name);

}  // namespace regionatlas
