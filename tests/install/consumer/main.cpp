// Uses both installed libraries: a tree survives the wire form, and a client
// can be made (no server is contacted).
#include <iostream>

#include "RestClient.h"
#include "TEV.h"

int main() {
    TEV::Dict d;
    d["image"] = TEV::Dict(TEV::Image(2, 2, 3, 8, 1.0f, 0, 1.0f));
    d["n"] = 42;
    msgpack::sbuffer wire = TEV::encode_message(d);
    TEV::MessageDict back = TEV::decode_message(wire.data(), wire.size());
    auto client = TEV::Rest::create_client();
    if (back.getInt("n", 0) != 42 || back.get("image").asImage().width != 2 || !client->valid) {
        std::cout << "mismatch\n";
        return 1;
    }
    std::cout << "round trip ok\n";
    return 0;
}
