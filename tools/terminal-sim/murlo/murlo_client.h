// A simulated terminal's file-transfer client: connects to the manager's server,
// agrees on a key, logs in, lists and downloads packages. Blocking calls with a
// time-out each; one client per thread. Used by the command-line front end
// (murlo-client), the tests and the terminal's update side.
#pragma once

#include "murlo_codec.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace simmurlo {

struct Download {
    uint32_t code = 0;
    std::string message;
    uint32_t size = 0;                                // announced by the reply
    std::vector<std::pair<int64_t, uint32_t>> chunks; // offset and length, in arrival order
    uint64_t received = 0;                            // bytes of chunks taken
    std::string data;                                 // reassembled
    std::string md5;                                  // of data
    std::string error;                                // empty when every check held
    bool ok() const { return code == 200 && error.empty(); }
};

class Client {
public:
    Client() = default;
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Connects to server:port, from bindAddress when it is not empty.
    bool connect(const std::string& server, uint16_t port, const std::string& bindAddress,
                 std::string* error);
    void close();
    int fd() const { return fd_; }
    // Time-out of each wait for the server, in milliseconds.
    void setTimeout(int ms) { timeoutMs_ = ms; }

    // Sends a key of keyLength bytes (16 is what terminals send) and waits for the
    // reply. True when it came; encrypted() then says whether a key was agreed.
    bool exchangeKey(size_t keyLength = 16);
    bool encrypted() const { return codec_.encrypted(); }
    bool login(const Identity& who);
    std::optional<ListReply> list();
    // Asks for a package and collects its chunks until the announced size is reached.
    // With expectedMd5 set, the reassembled bytes must match it. Without keepData the
    // bytes are only counted (no data, no MD5), for load tests.
    Download download(int64_t fileId, const std::string& expectedMd5 = {}, bool keepData = true);
    bool finish(int64_t fileId);
    bool ping();

    // Raw access for protocol tests.
    uint32_t nextSequence() { return ++sequence_; }
    std::string encode(uint32_t command, uint32_t sequence, const std::string& body) {
        return codec_.encode(command, sequence, body);
    }
    bool sendBytes(const std::string& bytes);
    // Waits for the next frame; none on time-out or when the server closed.
    std::optional<Frame> readFrame();
    // Waits for a frame of this command, keeping others for later readFrame calls.
    std::optional<Frame> waitFor(uint32_t command);
    // True when the server closes the connection before the time-out.
    bool waitClosed(int timeoutMs);
    const std::string& lastError() const { return error_; }

private:
    bool readSome(int timeoutMs);
    std::optional<Frame> request(uint32_t command, const std::string& body, uint32_t reply);

    int fd_ = -1;
    int timeoutMs_ = 10000;
    uint32_t sequence_ = 100;
    Codec codec_;
    std::vector<Frame> held_;
    bool peerClosed_ = false;
    std::string error_;
};

} // namespace simmurlo
