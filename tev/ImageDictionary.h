// Internal: the rules shared by Dict(const Image&), Dict::asImage and the
// wire decoder for image dictionaries.
#pragma once

#include "TEV.h"

namespace TEV {
namespace detail {

// Geometry and descriptive fields of an image dictionary (pixels untouched).
// Integers: low 16 bits of an Int entry, else 0. Ratios: a Float entry, an
// Int entry too when `ratios_from_int` (asImage does, the decoder does not),
// else 1.0.
void readImageFields(const Dict& entries, Image& image, bool ratios_from_int);

// Float samples of a 32-bit "pixels" entry: an Array gives one sample per
// Int or Float element (others skipped); Bytes give one sample per whole four
// native-order bytes. Returns false for any other kind (no float store).
bool readFloatSamples(const Dict& pixels, std::vector<float>& out);

// The canonical image dictionary of `fields` with the given pixel bytes.
Dict canonicalImageDict(const Image& fields, std::vector<char>&& pixel_bytes, bool float_store);

}  // namespace detail
}  // namespace TEV
