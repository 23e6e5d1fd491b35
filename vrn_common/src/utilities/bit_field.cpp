#include "utilities/bit_field.h"

#include "errors/error_manager.h"

void BitField_setBit(BitField* field, int bit) {
    VRN_ASSERT("BitField_setBit", bit > -1 && bit < 8);
    if (field) *field = static_cast<BitField>(*field | (1u << bit));
}

int BitField_isSet(const BitField* field, int bit) {
    VRN_ASSERT("BitField_isSet", bit > -1 && bit < 8);
    return field ? (*field & (1u << bit)) : 0;
}

void BitField_clearAll(BitField* field) {
    if (field) *field = 0;
}
