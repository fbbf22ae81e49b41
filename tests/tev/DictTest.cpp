// Value tree: coercing writes, defaulting queries, paths, ownership.
#include <gtest/gtest.h>

#include "TEV.h"

using TEV::Dict;

TEST(DictKinds, EachKindHoldsTheAlternativeOfItsNumber) {
    const std::vector<Dict> samples = {Dict(),
                                       Dict(true),
                                       Dict(7),
                                       Dict(2.5),
                                       Dict("text"),
                                       Dict(std::vector<char>{'a'}),
                                       Dict(std::vector<Dict>{Dict(1)}),
                                       Dict(std::map<std::string, Dict>{{"k", Dict(1)}})};
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(samples[i].type), i);
        EXPECT_EQ(samples[i].value.index(), i);
    }
    EXPECT_EQ(Dict(3.0f).type, Dict::Float);
    EXPECT_EQ(Dict(std::string("s")).type, Dict::String);
    EXPECT_EQ(std::get<long long>(Dict(18446744073709551615ull).value), -1);
}

TEST(DictWrites, IndexingCoercesTheReceiverToAMap) {
    Dict d;
    d["k"];
    ASSERT_EQ(d.type, Dict::Map);
    EXPECT_TRUE(d.contains("k"));
    EXPECT_EQ(d.get("k").type, Dict::Null);

    Dict s("a string");
    s["n"] = 5;
    ASSERT_EQ(s.type, Dict::Map);
    EXPECT_EQ((std::get<std::map<std::string, Dict>>(s.value).size()), 1u);
    EXPECT_EQ(s.getInt("n", 0), 5);

    Dict request;
    request["params"]["brightness"] = 1.5;
    EXPECT_EQ(request.get("params").type, Dict::Map);
    EXPECT_EQ(request.get("params").get("brightness").type, Dict::Float);
}

TEST(DictWrites, PushBackCoercesTheReceiverToAnArray) {
    Dict d;
    d["a"] = 1;
    d.push_back(Dict("x"));
    ASSERT_EQ(d.type, Dict::Array);
    const auto& items = std::get<std::vector<Dict>>(d.value);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(std::get<std::string>(items[0].value), "x");
}

TEST(DictWrites, PushingAnEntryOfTheReceiverIntoItselfKeepsTheEntry) {
    Dict d;
    d["keep"] = "me";
    d.push_back(d.get("keep"));  // the item lives inside the map being discarded
    ASSERT_EQ(d.type, Dict::Array);
    EXPECT_EQ(std::get<std::string>(std::get<std::vector<Dict>>(d.value)[0].value), "me");
}

TEST(DictQueries, ConvertOnlyWhatTheirRulesAllow) {
    Dict d;
    d["real"] = 3.0;
    d["int"] = 3;
    d["text"] = "t";
    EXPECT_EQ(d.getInt("real", -1), -1);
    EXPECT_EQ(d.getInt("int", -1), 3);
    EXPECT_DOUBLE_EQ(d.getFloat("int", -1), 3.0);
    EXPECT_DOUBLE_EQ(d.getFloat("text", -1), -1.0);
    EXPECT_EQ(d.getString("int", "def"), "def");
    EXPECT_EQ(d.getString("text", "def"), "t");
    EXPECT_EQ(d.getInt("missing", 9), 9);
    EXPECT_FALSE(d.contains("missing"));
    EXPECT_TRUE(d.contains("int"));
}

TEST(DictQueries, NonMapReceiversGiveDefaults) {
    Dict arr;
    arr.push_back(Dict(1));
    for (const Dict& d : {arr, Dict(), Dict(4), Dict("s")}) {
        EXPECT_EQ(d.getInt("k", 7), 7);
        EXPECT_DOUBLE_EQ(d.getFloat("k", 7.5), 7.5);
        EXPECT_EQ(d.getString("k", "x"), "x");
        EXPECT_FALSE(d.contains("k"));
        EXPECT_EQ(d.get("k").type, Dict::Null);
        EXPECT_EQ(d.path("k").type, Dict::Null);
    }
    // get() never inserts.
    Dict m;
    m["a"] = 1;
    m.get("b");
    EXPECT_FALSE(m.contains("b"));
}

TEST(DictPath, SplitsAtDotsLikeGetline) {
    Dict d;
    d["result"]["image"]["width"] = 4;
    d["a"][""]["b"] = 1;
    d[""]["x"] = 2;
    d["list"].push_back(Dict(1));

    EXPECT_EQ(&d.path(""), &d);
    EXPECT_EQ(d.path("result.image").getInt("width", 0), 4);
    EXPECT_EQ(&d.path("result."), &d.get("result"));  // trailing dot adds no segment
    EXPECT_EQ(std::get<long long>(d.path("a..b").value), 1);
    EXPECT_EQ(std::get<long long>(d.path(".x").value), 2);
    EXPECT_EQ(d.path("list.0").type, Dict::Null);  // arrays are never indexed
    EXPECT_EQ(d.path("result.missing.deeper").type, Dict::Null);
    EXPECT_EQ(d.path("result.image.width.more").type, Dict::Null);
}

TEST(DictOwnership, CopiesAreDeepAndMovesEmptyTheSource) {
    Dict src;
    src["list"].push_back(Dict("a"));
    src["map"]["k"] = 1;
    Dict copy = src;
    copy["list"].push_back(Dict("b"));
    copy["map"]["k"] = 2;
    EXPECT_EQ(std::get<std::vector<Dict>>(src.get("list").value).size(), 1u);
    EXPECT_EQ(src.get("map").getInt("k", 0), 1);

    Dict moved = std::move(copy);
    EXPECT_EQ(copy.type, Dict::Null);
    EXPECT_EQ(moved.get("map").getInt("k", 0), 2);
}

TEST(DictOwnership, AssigningAnEntryToItsOwnParentKeepsTheEntry) {
    Dict d;
    d["inner"]["v"] = 42;
    d = d.get("inner");
    EXPECT_EQ(d.getInt("v", 0), 42);

    Dict e;
    e["inner"]["v"] = 43;
    e = std::move(e["inner"]);
    EXPECT_EQ(e.getInt("v", 0), 43);

    Dict self;
    self["a"] = 1;
    const Dict& alias = self;
    self = alias;
    EXPECT_EQ(self.getInt("a", 0), 1);
}

TEST(DictOwnership, VeryDeepTreesAreFreedWithoutExhaustingTheStack) {
    // 200,000 levels would overflow a recursive destructor.
    Dict root;
    for (int i = 0; i < 200000; ++i) {
        Dict parent;
        parent["c"] = std::move(root);
        root = std::move(parent);
    }
    Dict deepArray;
    for (int i = 0; i < 200000; ++i) {
        Dict parent;
        parent.push_back(std::move(deepArray));
        deepArray = std::move(parent);
    }
    root = Dict(1);       // frees the old chain through assignment
    deepArray = Dict();   // and the array chain
    EXPECT_EQ(root.type, Dict::Int);
}
