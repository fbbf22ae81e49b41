// TEVErr and its fixed texts; MessageDict::error.
#include "TEV.h"

namespace TEV {

const std::map<TEVErrType, std::string> TEVErr_StringMap = {
    {UnknownError, "Unknown error"},
    {CouldNotCreateConnection, "Could not create connection"},
    {ErrorClosingConnection, "Error closing connection"},
    {ConnectionFailed, "Connection failed"},
    {MessageNotArray, "Message is not Array"},
    {ErrorDecodingMessage, "Error decoding message"},
    {ParametersNotReceived, "Parameters not received"},
    {ParameterNotFound, "Parameter not found"},
    {UncorrectedValue, "Uncorrected value"},
    {UriNotSet, "URI is not set"},
    {FailedToLoadImage, "Failed to load image"},
    {ErrorDecodingBase64Image, "Error decoding base-64 image"},
    {TimeoutExceeded, "Timeout exceeded"},
    {ExceptionInPlugin, "Exception in plugin"},
    {InstallationError, "Installation error."},
    {VersionMismatch, "TEV Version mismatch between lib and headers"},
};

TEVErr::TEVErr(const TEVErrType& type, const std::string& detail, const std::string& context)
    : type(type), detail(detail), context(context) {}

std::string TEVErr::message() const {
    auto it = TEVErr_StringMap.find(type);
    std::string text = it != TEVErr_StringMap.end() ? it->second : "TEV Unknown error";
    text += ": ";
    text += detail;
    if (!context.empty()) {
        text += ". ";
        text += context;
    }
    return text;
}

std::string MessageDict::error() const {
    return get("error").type == String ? std::get<std::string>(get("error").value) : std::string();
}

}  // namespace TEV
