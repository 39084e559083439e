#include "pelzo-sdk/pelzo-messages.h"

#include <lumo/md5.h>

namespace pelzo {

std::string loginToken(const PelzoChallenge& challenge, std::string_view password) {
    std::string text = std::to_string(challenge.seed);
    text += '|';
    text += std::to_string(challenge.serial);
    text += '|';
    text += lumo::md5Hex(password);
    if (!challenge.deviceId.empty()) {
        text += '|';
        text += challenge.deviceId;
    }
    return lumo::md5Hex(text);
}

} // namespace pelzo
