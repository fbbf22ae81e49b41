// The facts of a client's latest transfer, read from its libcurl handle.
#include "Transfer.h"

namespace TEV {
namespace Conform {

TransferFacts lastTransfer(Rest::Client& client) {
    TransferFacts facts;
    CURL* handle = client.curl_handle;
    if (handle == nullptr) return facts;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &facts.status);
    const char* type = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr)
        facts.content_type = type;
    curl_off_t bytes = 0;
    if (curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &bytes) == CURLE_OK) facts.reply_bytes = bytes;
    curl_easy_getinfo(handle, CURLINFO_NUM_CONNECTS, &facts.new_connections);
    return facts;
}

std::string describe(const TransferFacts& facts) {
    if (facts.status == 0) return "no HTTP answer";
    std::string text = "HTTP " + std::to_string(facts.status) + ", " + std::to_string(facts.reply_bytes) + " bytes";
    text += facts.content_type.empty() ? ", no Content-Type" : ", " + facts.content_type;
    return text;
}

}  // namespace Conform
}  // namespace TEV
