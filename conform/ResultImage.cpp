// The result image of a render, judged against the frame that was sent.
#include "ResultImage.h"

#include "Frames.h"
#include "Replies.h"

namespace TEV {
namespace Conform {

namespace {

std::size_t pixelEntryBytes(const Dict& image_dict) {
    const Dict& pixels = image_dict.get("pixels");
    return pixels.type == Dict::Bytes ? std::get<std::vector<char>>(pixels.value).size() : 0;
}

// The geometry of an image dictionary as asImage reads it, without copying the samples.
Image fieldsOf(const Dict& image_dict) {
    Image image;
    image.width = static_cast<unsigned short>(image_dict.getInt("width", 0));
    image.height = static_cast<unsigned short>(image_dict.getInt("height", 0));
    image.channels = static_cast<unsigned short>(image_dict.getInt("channels", 0));
    image.bit_depth = static_cast<unsigned short>(image_dict.getInt("bit_depth", 0));
    return image;
}

}  // namespace

std::string resultImageProblem(const Dict& result, const Image& sent) {
    if (!errorText(result).empty()) return "the result carries an error: " + brief(result);
    const Dict& image_dict = result.path("result.image");
    if (!image_dict.isImage()) return "no image dictionary at result.image: " + brief(result);
    const Image image = fieldsOf(image_dict);
    if (image.width != sent.width || image.height != sent.height || image.channels != sent.channels ||
        image.bit_depth != sent.bit_depth)
        return "a " + geometry(image) + " image for a " + geometry(sent) + " frame";
    const std::size_t need = pixelBytes(sent.width, sent.height, sent.channels, sent.bit_depth);
    const std::size_t held = pixelEntryBytes(image_dict);
    if (held != need)
        return "the pixel block holds " + std::to_string(held) + " bytes; " + geometry(sent) + " needs " +
               std::to_string(need);
    return "";
}

std::string describeResultImage(const Dict& result) {
    const Dict& image_dict = result.path("result.image");
    if (!image_dict.isImage()) return "no image";
    return geometry(fieldsOf(image_dict)) + ", " + std::to_string(pixelEntryBytes(image_dict)) + " bytes";
}

}  // namespace Conform
}  // namespace TEV
