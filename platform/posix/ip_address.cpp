// IP literals read by the C library's own address parser.
#include "platform/url.hpp"

#include <arpa/inet.h>
#include <array>

namespace orvanta {

std::vector<unsigned char> ipAddressBytes(std::string_view host) {
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    const std::string text(bracketed ? host.substr(1, host.size() - 2) : host);
    std::array<unsigned char, 16> bytes{};
    const int family = bracketed ? AF_INET6 : AF_INET;
    if (inet_pton(family, text.c_str(), bytes.data()) != 1) {
        return {};
    }
    return {bytes.begin(), bytes.begin() + (bracketed ? 16 : 4)};
}

} // namespace orvanta
