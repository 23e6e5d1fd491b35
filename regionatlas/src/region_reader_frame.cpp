// The frame every reader of region ORV text runs in: a fresh ORV handle
// loaded with the lines, the class's reader, the handle destroyed.
#include "region_internal.h"
#include "region_reader.h"

#include "orvapi.h"

using namespace regionatlas;

extern "C" RegionStatus* RegionReader_readORV(const char* className, void** object, int lineCount, char** lines,
                                              const char* name, RegionORVReader reader)
{
    if (!object)
        return failText(3, RegionReader_formatError(className, "Invalid object pointer"));
    bool linesValid = lines && lineCount >= 0;
    for (int i = 0; linesValid && i < lineCount; ++i)
        linesValid = lines[i] != nullptr;
    if (!linesValid)
        return failText(3, RegionReader_formatError(className, "Invalid string pointer"));
    if (!reader)
        return failText(3, RegionReader_formatError(className, "Invalid reader"));
    OrvHandle* handle = orvCreateHandle();
    if (!handle)
        return failText(1, RegionReader_formatError(className, "Cannot initialise ORV API"));
    RegionStatus* s;
    if (const char* message = loadORVDataH(handle, lines, lineCount)) {
        s = failText(6, RegionReader_formatError(className, "Unrecognised ORV"));
        RegionStatus_appendMessage(s, message);
    } else {
        s = reader(object, handle, name);
    }
    orvDestroyHandle(handle);
    return s;
}
