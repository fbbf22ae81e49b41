// call_plugin_with_image: a frame posted from the image's own store: the server must
// receive exactly the image dictionary, on every attempt and after libcurl
// rewinds the body for a fresh connection, and large replies must come back
// intact through the bins set apart on arrival.
#include "RestTestHelpers.h"

namespace TEV {
namespace Test {
namespace {

using FrameCall = ServerLinkTest;

// A frame larger than the reply's keep-apart threshold, distinct bytes.
Image frame(unsigned short depth) {
    Image image(160, 90, 3, depth, 1.0f, 2560, 0.5f);
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels))
        for (std::size_t i = 0; i < f->size(); ++i) (*f)[i] = static_cast<float>(i % 977) / 977.0f;
    else
        for (std::size_t i = 0; i < std::get<0>(image.pixels).size(); ++i)
            std::get<0>(image.pixels)[i] = static_cast<unsigned char>(i * 13 + 1);
    return image;
}

std::string encoded(const Dict& d) {
    const msgpack::sbuffer b = encode_message(d);
    return std::string(b.data(), b.size());
}

Dict renderArgs() {
    Dict args;
    args["params"]["brightness"] = 1.5;
    args["instance_id"] = "instance-1";
    return args;
}

// What the server must have received as "args".
Dict expectedArgs(const Image& image) {
    Dict args = renderArgs();
    args["image"] = Dict(image);
    return args;
}

TEST_F(FrameCall, ServerReceivesTheImageDictionaryAndTheResultComesBackWhole) {
    FakeServer server;  // answers {"result": <the call's args>}
    auto client = makeClient();
    for (unsigned short depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        const Image image = frame(depth);
        const MessageDict result = client->call_plugin_with_image("render", renderArgs(), "image", image);

        const auto calls = server.requests("call_plugin");
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().message.getString("function_name", ""), "render");
        EXPECT_EQ(encoded(calls.back().message.get("args")), encoded(expectedArgs(image)));
        EXPECT_EQ(encoded(result), encoded(expectedArgs(image)));
        EXPECT_EQ(encoded(Dict(result.get("image").asImage())), encoded(Dict(image)));
    }
}

TEST_F(FrameCall, EveryAttemptAndARewoundBodyCarryTheWholeFrame) {
    const Image image = frame(16);
    {  // A failed attempt: the next one posts the frame again from its start.
        FakeServer server;
        server.pushAnswer("call_plugin", Answer::misbehave(Misbehaviour::http_500));
        auto client = makeClient();
        CaptureStdout out;
        client->call_plugin_with_image("render", renderArgs(), "image", image);
        const auto calls = server.requests("call_plugin");
        ASSERT_EQ(calls.size(), 2u);
        for (const ReceivedRequest& call : calls)
            EXPECT_EQ(encoded(call.message.get("args")), encoded(expectedArgs(image)));
    }
    {  // A kept-alive connection that the server drops: libcurl rewinds the
       // body and sends it on a fresh connection within the same attempt.
        FakeServer server;
        auto client = makeClient();
        Dict hello;
        client->send_and_receive_dict(hello);
        server.misbehave(Misbehaviour::close_without_answer, 1);
        CaptureStdout out;
        const MessageDict result = client->call_plugin_with_image("render", renderArgs(), "image", image);
        EXPECT_EQ(countLines(out.text(), "Cannot connect"), 0) << out.text();
        EXPECT_EQ(server.connectionsAccepted(), 2);
        const auto calls = server.requests("call_plugin");
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(encoded(calls.back().message.get("args")), encoded(expectedArgs(image)));
        EXPECT_EQ(encoded(result), encoded(expectedArgs(image)));
    }
}

}  // namespace
}  // namespace Test
}  // namespace TEV

namespace TEV {
namespace Test {
namespace {

TEST_F(FrameCall, RecycledReplyBlockReceivesTheNextFrame) {
    FakeServer server;
    auto client = makeClient();
    const Image image(1024, 600, 3, 16, 1.0f, 0, 1.0f);  // 3.5 MiB of samples: worth keeping
    MessageDict first = client->call_plugin_with_image("render", renderArgs(), "image", image);
    const Dict& first_pixels = first.path("image.pixels");
    ASSERT_EQ(first_pixels.type, Dict::Bytes);
    const std::size_t block = std::get<std::vector<char>>(first_pixels.value).capacity();
    client->recycle(std::move(first));

    // A small exchange between frames leaves the block alone.
    Dict ping;
    client->send_and_receive_dict(ping);

    // A smaller frame: a block of its own would be reserved to its exact size.
    Image next(1024, 512, 3, 16, 1.0f, 0, 1.0f);
    std::get<std::vector<unsigned char>>(next.pixels)[12345] = 77;
    const MessageDict second = client->call_plugin_with_image("render", renderArgs(), "image", next);
    const Dict& pixels = second.path("image.pixels");
    ASSERT_EQ(pixels.type, Dict::Bytes);
    EXPECT_EQ(std::get<std::vector<char>>(pixels.value).capacity(), block) << "the kept block was used";
    EXPECT_EQ(encoded(second.get("image")), encoded(Dict(next)));
}

}  // namespace
}  // namespace Test
}  // namespace TEV
