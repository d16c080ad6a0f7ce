// --web's address and port, and --web-token-file's token.
#include <charconv>
#include <fstream>

#include "web/WebService.h"

bool ParseWebOptions(const std::string& listen, const std::string& tokenFile, WebOptions* options,
                     std::string* error) {
    std::string address = "127.0.0.1";
    std::string port = listen;
    if (const std::size_t colon = listen.rfind(':'); colon != std::string::npos) {
        address = listen.substr(0, colon);
        port = listen.substr(colon + 1);
        // "[::1]:8080" for an IPv6 address.
        if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
            address = address.substr(1, address.size() - 2);
    }
    int number = -1;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (ec != std::errc() || end != port.data() + port.size() || number < 0 || number > 65535 ||
        address.empty()) {
        *error = "--web takes [ADDRESS:]PORT (for example 8080 or 0.0.0.0:8080), not " + listen;
        return false;
    }
    options->address = address;
    options->port = number;
    if (!tokenFile.empty()) {
        if (!TokenFileIsPrivate(tokenFile, error)) return false;
        std::ifstream in(tokenFile);
        std::string token;
        if (!in || !std::getline(in, token)) {
            *error = "cannot read the token file " + tokenFile;
            return false;
        }
        while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) token.pop_back();
        if (token.size() < 16 || token.find_first_of(" \t;") != std::string::npos) {
            *error = "the token in " + tokenFile +
                     " must be one line of at least 16 characters, without blanks or ';'";
            return false;
        }
        options->token = token;
    }
    if (!IsLoopbackAddress(address) && options->token.empty()) {
        *error = "--web " + listen +
                 " would serve the page beyond this computer: give --web-token-file FILE "
                 "(every request then needs the token), or listen on 127.0.0.1";
        return false;
    }
    return true;
}
