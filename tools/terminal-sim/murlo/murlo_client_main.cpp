// murlo-client: one simulated terminal talking to the manager's file-transfer server.
//
//   murlo-client --server IP [--port P] [--bind IP] [--did D] [--arch A] [--type T]
//                [--key-length N] [--timeout MS] [--save DIR] STEP...
//
// Steps run in order after the key exchange and the login:
//   list          print the packages the server lists for this terminal
//   download:ID   download package ID (checked against the listed MD5 when listed)
//   finish:ID     tell the server a download is done
//   ping          one ping
//   update        list, then download and finish every listed package
// Prints one line per result and exits 0 when every step succeeded.
#include "murlo_client.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: murlo-client --server IP [--port P] [--bind IP] [--did D] "
                         "[--arch A] [--type T] [--key-length N] [--timeout MS] [--save DIR] "
                         "list|download:ID|finish:ID|ping|update...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string server, bind, saveDir;
    int port = simmurlo::kPort;
    int keyLength = 16;
    int timeoutMs = 10000;
    simmurlo::Identity who;
    std::vector<std::string> steps;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                std::exit(usage());
            }
            return argv[++i];
        };
        if (a == "--server")
            server = value();
        else if (a == "--port")
            port = std::atoi(value().c_str());
        else if (a == "--bind")
            bind = value();
        else if (a == "--did")
            who.did = value();
        else if (a == "--arch")
            who.arch = value();
        else if (a == "--type")
            who.type = value();
        else if (a == "--key-length")
            keyLength = std::atoi(value().c_str());
        else if (a == "--timeout")
            timeoutMs = std::atoi(value().c_str());
        else if (a == "--save")
            saveDir = value();
        else if (!a.empty() && a[0] != '-')
            steps.push_back(a);
        else
            return usage();
    }
    if (server.empty() || steps.empty())
        return usage();

    simmurlo::Client client;
    client.setTimeout(timeoutMs);
    std::string error;
    if (!client.connect(server, uint16_t(port), bind, &error)) {
        std::printf("error %s\n", error.c_str());
        return 1;
    }
    if (!client.exchangeKey(size_t(keyLength))) {
        std::printf("error key exchange: %s\n", client.lastError().c_str());
        return 1;
    }
    std::printf("key %s\n", client.encrypted() ? "encrypted" : "plain");
    if (!client.login(who)) {
        std::printf("error login: %s\n", client.lastError().c_str());
        return 1;
    }
    std::printf("login ok\n");

    bool allOk = true;
    std::map<int64_t, std::string> listedMd5;
    const auto list = [&]() -> std::vector<simmurlo::AppInfo> {
        const auto r = client.list();
        if (!r) {
            std::printf("error list: %s\n", client.lastError().c_str());
            allOk = false;
            return {};
        }
        std::printf("list code %u count %zu%s%s\n", r->code, r->apps.size(),
                    r->message.empty() ? "" : " message ", r->message.c_str());
        for (const simmurlo::AppInfo& a : r->apps) {
            listedMd5[a.fileId] = a.md5;
            std::printf("app %lld %s %s %s %u %s\n", static_cast<long long>(a.fileId),
                        a.name.c_str(), a.version.c_str(), a.md5.c_str(), a.size, a.desc.c_str());
        }
        if (r->code != 200)
            allOk = false;
        return r->apps;
    };
    const auto download = [&](int64_t id) {
        const auto it = listedMd5.find(id);
        const simmurlo::Download d = client.download(id, it == listedMd5.end() ? "" : it->second);
        std::printf("download %lld code %u size %u chunks %zu md5 %s %s%s\n",
                    static_cast<long long>(id), d.code, d.size, d.chunks.size(), d.md5.c_str(),
                    d.ok() ? "ok" : "failed ",
                    d.ok() ? "" : (d.error.empty() ? d.message : d.error).c_str());
        if (!d.ok())
            allOk = false;
        else if (!saveDir.empty())
            std::ofstream(saveDir + "/" + std::to_string(id), std::ios::binary) << d.data;
    };
    const auto finish = [&](int64_t id) {
        const bool ok = client.finish(id);
        std::printf("finish %lld %s\n", static_cast<long long>(id), ok ? "ok" : "failed");
        allOk = allOk && ok;
    };

    for (const std::string& step : steps) {
        const size_t colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        const int64_t id = colon == std::string::npos ? 0 : std::atoll(step.c_str() + colon + 1);
        if (verb == "list") {
            list();
        } else if (verb == "download") {
            download(id);
        } else if (verb == "finish") {
            finish(id);
        } else if (verb == "ping") {
            const bool ok = client.ping();
            std::printf("ping %s\n", ok ? "ok" : "failed");
            allOk = allOk && ok;
        } else if (verb == "update") {
            for (const simmurlo::AppInfo& a : list()) {
                download(a.fileId);
                finish(a.fileId);
            }
        } else {
            return usage();
        }
        std::fflush(stdout);
    }
    return allOk ? 0 : 1;
}
