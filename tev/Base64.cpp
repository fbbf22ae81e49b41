// decode_base64 with Boost's archive iterators.
#include <boost/archive/iterators/binary_from_base64.hpp>
#include <boost/archive/iterators/dataflow_exception.hpp>
#include <boost/archive/iterators/transform_width.hpp>

#include "TEV_Image.h"

namespace TEV {

std::vector<unsigned char> decode_base64(const std::string& text) {
    using namespace boost::archive::iterators;
    // Plain pointers over c_str(): when a lone final character leaves the
    // decoder short of bits it reads the terminating NUL, which it rejects,
    // instead of reading past the string.
    using Decoder = transform_width<binary_from_base64<const char*>, 8, 6>;
    const char* begin = text.c_str();
    try {
        return std::vector<unsigned char>(Decoder(begin), Decoder(begin + text.size()));
    } catch (const dataflow_exception& e) {
        throw TEVErr(ErrorDecodingBase64Image, e.what(), "");
    }
}

}  // namespace TEV
