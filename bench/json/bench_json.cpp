// Encodes and decodes a terminal's app list (200 values of 15 mixed fields, shaped like
// ListAppsRes) through the vo mapping and through hand-written RapidJSON DOM
// code doing the same work, then prints the ratio mapping/hand-written for each direction.
#include "bench_result.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "vo/json.h"

namespace {

struct AppValue : vo::JsonClient {
    bool alwaysEnabled = false;
    std::string desc;
    std::int32_t downloadedSize = 0;
    bool enable = false;
    std::string loggedAccount;
    bool loggedIn = false;
    std::string name;
    bool newDownloaded = false;
    std::string newMd5;
    std::int32_t newSize = 0;
    std::string newVersion;
    std::int32_t pid = 0;
    bool updating = false;
    std::string version;
    bool writeLog = false;

    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("always_enabled", alwaysEnabled);
        v.visit("desc", desc);
        v.visit("downloaded_size", downloadedSize);
        v.visit("enable", enable);
        v.visit("logged_account", loggedAccount);
        v.visit("logged_in", loggedIn);
        v.visit("name", name);
        v.visit("new_downloaded", newDownloaded);
        v.visit("new_md5", newMd5);
        v.visit("new_size", newSize);
        v.visit("new_version", newVersion);
        v.visit("pid", pid);
        v.visit("updating", updating);
        v.visit("version", version);
        v.visit("write_log", writeLog);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("always_enabled", alwaysEnabled);
        v.visit("desc", desc);
        v.visit("downloaded_size", downloadedSize);
        v.visit("enable", enable);
        v.visit("logged_account", loggedAccount);
        v.visit("logged_in", loggedIn);
        v.visit("name", name);
        v.visit("new_downloaded", newDownloaded);
        v.visit("new_md5", newMd5);
        v.visit("new_size", newSize);
        v.visit("new_version", newVersion);
        v.visit("pid", pid);
        v.visit("updating", updating);
        v.visit("version", version);
        v.visit("write_log", writeLog);
    }
};

struct ListAppsRes : vo::JsonClient {
    std::int32_t code = 200;
    std::string message;
    std::vector<AppValue> value;

    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("code", code);
        v.visit("message", message);
        v.visit("value", value);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("code", code);
        v.visit("message", message);
        v.visit("value", value);
    }
};

ListAppsRes makeList() {
    ListAppsRes res;
    res.message = "ok";
    for (int i = 0; i < 200; ++i) {
        AppValue a;
        a.alwaysEnabled = i % 3 == 0;
        a.desc = "Application number " + std::to_string(i) + " of the terminal";
        a.downloadedSize = 1000 * i;
        a.enable = i % 2 == 0;
        a.loggedAccount = i % 5 == 0 ? "admin" : "";
        a.loggedIn = i % 5 == 0;
        a.name = "app-" + std::to_string(i);
        a.newDownloaded = i % 4 == 0;
        a.newMd5 = "d41d8cd98f00b204e9800998ecf8427e";
        a.newSize = 2000 * i + 17;
        a.newVersion = "2.4." + std::to_string(i);
        a.pid = 1000 + i;
        a.updating = i % 7 == 0;
        a.version = "2.3." + std::to_string(i);
        a.writeLog = i % 2 == 1;
        res.value.push_back(a);
    }
    return res;
}

// ---------------------------------------------------------------------------------------
// Hand-written RapidJSON DOM code doing the same work.

using rapidjson::StringRef;
using rapidjson::Value;

std::string handEncode(const ListAppsRes& res) {
    rapidjson::Document doc;
    auto& al = doc.GetAllocator();
    doc.SetObject();
    doc.AddMember("code", res.code, al);
    doc.AddMember("message", StringRef(res.message.c_str()), al);
    Value list(rapidjson::kArrayType);
    list.Reserve(static_cast<rapidjson::SizeType>(res.value.size()), al);
    for (const AppValue& a : res.value) {
        Value o(rapidjson::kObjectType);
        o.AddMember("always_enabled", a.alwaysEnabled, al);
        o.AddMember("desc", StringRef(a.desc.c_str()), al);
        o.AddMember("downloaded_size", a.downloadedSize, al);
        o.AddMember("enable", a.enable, al);
        o.AddMember("logged_account", StringRef(a.loggedAccount.c_str()), al);
        o.AddMember("logged_in", a.loggedIn, al);
        o.AddMember("name", StringRef(a.name.c_str()), al);
        o.AddMember("new_downloaded", a.newDownloaded, al);
        o.AddMember("new_md5", StringRef(a.newMd5.c_str()), al);
        o.AddMember("new_size", a.newSize, al);
        o.AddMember("new_version", StringRef(a.newVersion.c_str()), al);
        o.AddMember("pid", a.pid, al);
        o.AddMember("updating", a.updating, al);
        o.AddMember("version", StringRef(a.version.c_str()), al);
        o.AddMember("write_log", a.writeLog, al);
        list.PushBack(o, al);
    }
    doc.AddMember("value", list, al);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

void readInt(const Value& o, const char* key, std::int32_t& out) {
    auto it = o.FindMember(key);
    if (it != o.MemberEnd() && it->value.IsInt()) {
        out = it->value.GetInt();
    }
}

void readBool(const Value& o, const char* key, bool& out) {
    auto it = o.FindMember(key);
    if (it != o.MemberEnd() && it->value.IsBool()) {
        out = it->value.GetBool();
    }
}

void readString(const Value& o, const char* key, std::string& out) {
    auto it = o.FindMember(key);
    if (it != o.MemberEnd() && it->value.IsString()) {
        out.assign(it->value.GetString(), it->value.GetStringLength());
    }
}

bool handDecode(ListAppsRes& res, const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError() || !doc.IsObject()) {
        return false;
    }
    readInt(doc, "code", res.code);
    readString(doc, "message", res.message);
    auto it = doc.FindMember("value");
    if (it != doc.MemberEnd() && it->value.IsArray()) {
        res.value.reserve(res.value.size() + it->value.Size());
        for (const Value& o : it->value.GetArray()) {
            AppValue& a = res.value.emplace_back();
            if (!o.IsObject()) {
                continue;
            }
            readBool(o, "always_enabled", a.alwaysEnabled);
            readString(o, "desc", a.desc);
            readInt(o, "downloaded_size", a.downloadedSize);
            readBool(o, "enable", a.enable);
            readString(o, "logged_account", a.loggedAccount);
            readBool(o, "logged_in", a.loggedIn);
            readString(o, "name", a.name);
            readBool(o, "new_downloaded", a.newDownloaded);
            readString(o, "new_md5", a.newMd5);
            readInt(o, "new_size", a.newSize);
            readString(o, "new_version", a.newVersion);
            readInt(o, "pid", a.pid);
            readBool(o, "updating", a.updating);
            readString(o, "version", a.version);
            readBool(o, "write_log", a.writeLog);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------

const ListAppsRes& sample() {
    static const ListAppsRes res = makeList();
    return res;
}

const std::string& sampleText() {
    static const std::string text = vo::toJson(sample());
    return text;
}

void BM_EncodeMapping(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = vo::toJson(sample());
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sampleText().size()));
}

void BM_EncodeHandwritten(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = handEncode(sample());
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sampleText().size()));
}

void BM_DecodeMapping(benchmark::State& state) {
    for (auto _ : state) {
        ListAppsRes res;
        std::string error;
        bool ok = vo::fromJson(error, res, sampleText());
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(res);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sampleText().size()));
}

void BM_DecodeHandwritten(benchmark::State& state) {
    for (auto _ : state) {
        ListAppsRes res;
        bool ok = handDecode(res, sampleText());
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(res);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sampleText().size()));
}

BENCHMARK(BM_EncodeMapping);
BENCHMARK(BM_EncodeHandwritten);
BENCHMARK(BM_DecodeMapping);
BENCHMARK(BM_DecodeHandwritten);

// Keeps the console output and remembers each benchmark's time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
        }
    }
    std::map<std::string, double> times;
};

// Both ways must produce the same records and texts, or the comparison means nothing.
bool sameWork() {
    if (handEncode(sample()) != sampleText()) {
        std::fprintf(stderr, "bench_json: hand-written encoding differs from the mapping\n");
        return false;
    }
    ListAppsRes a;
    ListAppsRes b;
    std::string error;
    if (!vo::fromJson(error, a, sampleText()) || !handDecode(b, sampleText()) ||
        vo::toJson(a) != vo::toJson(b) || vo::toJson(a) != sampleText()) {
        std::fprintf(stderr, "bench_json: decodings differ\n");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (!sameWork()) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto ratio = [&](const char* mapping, const char* hand) {
        const auto m = reporter.times.find(mapping);
        const auto h = reporter.times.find(hand);
        if (m == reporter.times.end() || h == reporter.times.end() || h->second <= 0) {
            return -1.0;
        }
        return m->second / h->second;
    };
    const double enc = ratio("BM_EncodeMapping", "BM_EncodeHandwritten");
    const double dec = ratio("BM_DecodeMapping", "BM_DecodeHandwritten");
    std::printf("ratio encode mapping/handwritten: %.2f (goal <= 1.30)\n", enc);
    std::printf("ratio decode mapping/handwritten: %.2f (goal <= 1.30)\n", dec);
    std::printf("document: %zu bytes, 200 app values\n", sampleText().size());
    bench::atMost("encode, vo mapping / hand-written RapidJSON", enc, 1.30);
    bench::atMost("decode, vo mapping / hand-written RapidJSON", dec, 1.30);
    return 0;
}
